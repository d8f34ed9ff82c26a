#include "PtrRefCounter.h"

#include "base/BlockPool.h"

namespace ReferenceCountedSmartPointer {

bool PtrRefCounter::AddInactiveRef() {
    m_pMutex.Lock();
    bool ok = m_uActiveCount.load(std::memory_order_relaxed) != 0;
    if (ok) m_uInactiveCount.fetch_add(1, std::memory_order_relaxed);
    m_pMutex.Unlock();
    return ok;
}

bool PtrRefCounter::SubtractInactiveRef() {
    m_pMutex.Lock();
    bool ok = m_uInactiveCount.load(std::memory_order_relaxed) != 0;
    if (ok) m_uInactiveCount.fetch_sub(1, std::memory_order_relaxed);
    m_pMutex.Unlock();
    return ok;
}

// One counter is created with every new token: take it from the block pool.
void* PtrRefCounter::operator new(std::size_t size) {
    return size == sizeof(PtrRefCounter) ? BlockPool<sizeof(PtrRefCounter)>::allocate() : ::operator new(size);
}

void PtrRefCounter::operator delete(void* p) noexcept {
    BlockPool<sizeof(PtrRefCounter)>::release(p);
}

} // namespace ReferenceCountedSmartPointer
