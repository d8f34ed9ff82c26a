#pragma once
#include <atomic>
#include <thread>

namespace ThreadSafe {

// A small recursive in-process lock. The handle counters change their counts
// with atomic operations; this lock guards the rarer compound updates.
class QuickMutex {
public:
    QuickMutex() = default;
    QuickMutex(const QuickMutex&) = delete;
    QuickMutex& operator=(const QuickMutex&) = delete;

    void Lock();
    void Unlock();
    bool IsLocked() const { return m_bLocked.load(std::memory_order_relaxed); }

private:
    // The platform critical section: owner thread and recursion depth.
    std::atomic<std::thread::id> m_owner{};
    unsigned m_depth = 0;
    std::atomic<bool> m_bLocked{false};
};

} // namespace ThreadSafe
