#include "QuickMutex.h"

namespace ThreadSafe {

void QuickMutex::Lock() {
    const std::thread::id self = std::this_thread::get_id();
    if (m_owner.load(std::memory_order_acquire) == self) {
        ++m_depth;
        return;
    }
    std::thread::id none{};
    while (!m_owner.compare_exchange_weak(none, self, std::memory_order_acquire)) {
        none = std::thread::id{};
        std::this_thread::yield();
    }
    m_depth = 1;
    m_bLocked.store(true, std::memory_order_relaxed);
}

void QuickMutex::Unlock() {
    if (--m_depth == 0) {
        m_bLocked.store(false, std::memory_order_relaxed);
        m_owner.store(std::thread::id{}, std::memory_order_release);
    }
}

} // namespace ThreadSafe
