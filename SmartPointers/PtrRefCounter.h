#pragma once
#include <atomic>
#if defined(__has_include)
#if __has_include(<sys/single_threaded.h>)
#include <sys/single_threaded.h>
#define SIM_HAVE_SINGLE_THREADED_FLAG 1
#endif
#endif
#ifndef SIM_HAVE_SINGLE_THREADED_FLAG
#define SIM_HAVE_SINGLE_THREADED_FLAG 0
#endif

#include "base/KernelAssert.h"
#include "QuickMutex.h"

namespace ReferenceCountedSmartPointer {

// The counter shared by all handles of one object. The active count is the
// number of owning handles; the inactive count (non-owning references) is
// kept for completeness and never raised by this system. Counts change
// atomically, so handles may be copied and released from several threads
// without taking the lock on the hot path.
//
// While the process has a single thread, no other thread can see a count,
// so a change needs no locked instruction (each one stalls the processor's
// memory pipeline, and handles are copied several times per firing). The C
// library clears its single-thread flag before a second thread starts, and
// thread creation makes every earlier change visible to the new thread;
// from then on every change is atomic.
class PtrRefCounter {
public:
    static bool singleThreaded() {
#if SIM_HAVE_SINGLE_THREADED_FLAG
        return __libc_single_threaded != 0;
#else
        return false;
#endif
    }

    PtrRefCounter() = default;
    PtrRefCounter(const PtrRefCounter&) = delete;
    PtrRefCounter& operator=(const PtrRefCounter&) = delete;

    // Adds an owning reference unless the object is already released.
    bool AddActiveRef() {
        unsigned long n = m_uActiveCount.load(std::memory_order_relaxed);
        if (singleThreaded()) {
            if (n == 0) return false;
            m_uActiveCount.store(n + 1, std::memory_order_relaxed);
            return true;
        }
        while (n != 0) {
            if (m_uActiveCount.compare_exchange_weak(n, n + 1, std::memory_order_relaxed)) return true;
        }
        return false;
    }

    // 22: both counts are 0 (delete object and counter); -1: only the active
    // count is 0 (delete the object); 0: still referenced.
    int SubtractActiveRef() {
        unsigned long before;
        if (singleThreaded()) {
            before = m_uActiveCount.load(std::memory_order_relaxed);
            KERNEL_ASSERT_TEXT(before > 0, "m_uActiveCount > 0", "SmartPointers/PtrRefCounter", 159);
            m_uActiveCount.store(before - 1, std::memory_order_relaxed);
        } else {
            before = m_uActiveCount.fetch_sub(1, std::memory_order_acq_rel);
            if (before == 0) {
                m_uActiveCount.fetch_add(1, std::memory_order_relaxed);
                KERNEL_ASSERT_TEXT(before > 0, "m_uActiveCount > 0", "SmartPointers/PtrRefCounter", 159);
            }
        }
        if (before != 1) return 0;
        return m_uInactiveCount.load(std::memory_order_acquire) == 0 ? 22 : -1;
    }

    bool AddInactiveRef();
    bool SubtractInactiveRef();

    bool IsActive() const { return m_uActiveCount.load(std::memory_order_relaxed) != 0; }
    bool ShouldThisObjectBeDeleted() const {
        return m_uActiveCount.load(std::memory_order_relaxed) == 0 &&
               m_uInactiveCount.load(std::memory_order_relaxed) == 0;
    }
    unsigned long activeCount() const { return m_uActiveCount.load(std::memory_order_relaxed); }

    static void* operator new(std::size_t size);
    static void operator delete(void* p) noexcept;

private:
    std::atomic<unsigned long> m_uActiveCount{1};
    std::atomic<unsigned long> m_uInactiveCount{0};
    ThreadSafe::QuickMutex m_pMutex;
};

} // namespace ReferenceCountedSmartPointer
