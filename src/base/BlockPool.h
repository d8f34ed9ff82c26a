#pragma once
#include <cstddef>
#include <mutex>
#include <new>
#include <vector>

// A free list of fixed-size memory blocks, one per thread and block size.
// Tokens' counters, bindings and their token lists are created and released
// at every firing; recycling their memory keeps the hot path free of malloc.
// Blocks are carved from chunks that are kept for the life of the process.
template <std::size_t Size>
class BlockPool {
public:
    static void* allocate() {
        State& s = state();
        if (s.head == nullptr) s.refill();
        Node* n = s.head;
        s.head = n->next;
        return n;
    }
    static void release(void* p) noexcept {
        if (p == nullptr) return;
        State& s = state();
        Node* n = static_cast<Node*>(p);
        n->next = s.head;
        s.head = n;
    }

private:
    struct Node { Node* next; };
    static constexpr std::size_t kAlign = alignof(std::max_align_t);
    static constexpr std::size_t kBlock = ((Size < sizeof(Node) ? sizeof(Node) : Size) + kAlign - 1) / kAlign * kAlign;
    static constexpr std::size_t kPerChunk = 256;

    struct State {
        Node* head = nullptr;
        std::vector<char*> chunks;
        void refill() {
            char* chunk = static_cast<char*>(::operator new(kBlock * kPerChunk));
            chunks.push_back(chunk);
            for (std::size_t i = kPerChunk; i-- > 0;) {
                Node* n = reinterpret_cast<Node*>(chunk + i * kBlock);
                n->next = head;
                head = n;
            }
        }
    };
    // Each thread's pool is created on first use and never destroyed, so a
    // block released during program exit still finds its pool; the pools stay
    // reachable through the registry.
    static State& state() {
        thread_local State* s = nullptr;
        if (s == nullptr) s = blockPoolRegister(new State);
        return *s;
    }
    template <typename T>
    static T* blockPoolRegister(T* state) {
        static std::mutex m;
        static std::vector<T*>* all = new std::vector<T*>;
        std::lock_guard<std::mutex> lock(m);
        all->push_back(state);
        return state;
    }
};

// Class-specific operator new/delete that draw from the block pool.
#define USE_BLOCK_POOL(Class)                                                           \
    static void* operator new(std::size_t size) {                                       \
        return size == sizeof(Class) ? BlockPool<sizeof(Class)>::allocate() : ::operator new(size); \
    }                                                                                   \
    static void operator delete(void* p, std::size_t size) noexcept {                   \
        if (size == sizeof(Class)) BlockPool<sizeof(Class)>::release(p);                \
        else ::operator delete(p);                                                      \
    }

// A standard allocator over the block pool, for node-based containers whose
// nodes come and go at every firing (the event lists).
template <class T>
struct PoolAllocator {
    typedef T value_type;
    PoolAllocator() noexcept = default;
    template <class U>
    PoolAllocator(const PoolAllocator<U>&) noexcept {}
    T* allocate(std::size_t n) {
        if (n == 1) return static_cast<T*>(BlockPool<sizeof(T)>::allocate());
        return static_cast<T*>(::operator new(n * sizeof(T)));
    }
    void deallocate(T* p, std::size_t n) noexcept {
        if (n == 1) BlockPool<sizeof(T)>::release(p);
        else ::operator delete(p);
    }
    template <class U>
    bool operator==(const PoolAllocator<U>&) const noexcept { return true; }
    template <class U>
    bool operator!=(const PoolAllocator<U>&) const noexcept { return false; }
};
