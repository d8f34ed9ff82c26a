#pragma once
#include <typeinfo>
#include <utility>

#include "base/KernelAssert.h"
#include "PtrExceptions.h"
#include "PtrRefCounter.h"

namespace ReferenceCountedSmartPointer {

// Tag of Ptr's uncounted copy.
struct Uncounted {};

// The reference-counted handle through which every token is held. All
// handles of one object share one counter; the last handle to go deletes the
// object. Copying costs one atomic increment and allocates nothing.
template <class T>
class Ptr {
public:
    Ptr() noexcept : m_pRawPtr(nullptr), m_pRefCount(nullptr) {}

    // A copy that does not register with the counter: it must never be
    // released (its owner forgets it instead of destroying it), and it is
    // valid only while a counted handle keeps the object alive.
    Ptr(const Ptr& other, Uncounted) noexcept : m_pRawPtr(other.m_pRawPtr), m_pRefCount(other.m_pRefCount) {}

    // Takes ownership of a new object.
    Ptr(T* p) : m_pRawPtr(p), m_pRefCount(p != nullptr ? new PtrRefCounter() : nullptr) {}

    // Joins an existing counter (or starts one when `c` is null).
    Ptr(T* p, PtrRefCounter* c) : m_pRawPtr(p), m_pRefCount(nullptr) {
        if (p == nullptr) return;
        if (c != nullptr) {
            m_pRefCount = c;
            AdjustRefCount();
        } else {
            m_pRefCount = new PtrRefCounter();
        }
    }

    Ptr(const Ptr& other) : m_pRawPtr(other.m_pRawPtr), m_pRefCount(other.m_pRefCount) { AdjustRefCount(); }

    template <class U>
    Ptr(const Ptr<U>& other) : m_pRawPtr(other.GetRawPtr()), m_pRefCount(other.GetRefObject()) {
        AdjustRefCount();
    }

    // Moving hands the registration over without touching the counter.
    Ptr(Ptr&& other) noexcept : m_pRawPtr(other.m_pRawPtr), m_pRefCount(other.m_pRefCount) {
        other.m_pRawPtr = nullptr;
        other.m_pRefCount = nullptr;
    }

    ~Ptr() { ResetPtr(); }

    Ptr& operator=(const Ptr& other) {
        ReassignSelf(other.m_pRawPtr, other.m_pRefCount);
        return *this;
    }

    template <class U>
    Ptr& operator=(const Ptr<U>& other) {
        ReassignSelf(other.GetRawPtr(), other.GetRefObject());
        return *this;
    }

    Ptr& operator=(Ptr&& other) noexcept {
        if (other.m_pRefCount == m_pRefCount) {
            if (this != &other) other.ResetPtr();
            return *this;
        }
        ResetPtr();
        m_pRawPtr = other.m_pRawPtr;
        m_pRefCount = other.m_pRefCount;
        other.m_pRawPtr = nullptr;
        other.m_pRefCount = nullptr;
        return *this;
    }

    Ptr& operator=(T* p) {
        ResetPtr();
        m_pRawPtr = p;
        m_pRefCount = p != nullptr ? new PtrRefCounter() : nullptr;
        return *this;
    }

    T& operator*() const {
        checkNotNull(286);
        return *m_pRawPtr;
    }
    T* operator->() const {
        checkNotNull(306);
        return m_pRawPtr;
    }

    // Comparison with the literal 0 tests for an empty handle.
    bool operator==(int iShouldBeNull) const {
        KERNEL_ASSERT(iShouldBeNull == 0, "SmartPointers/Ptr", 327);
        return m_pRawPtr == nullptr;
    }
    bool operator!=(int iShouldBeNull) const { return !(*this == iShouldBeNull); }

    template <class U>
    bool operator==(const Ptr<U>& other) const {
        return static_cast<const void*>(m_pRawPtr) == static_cast<const void*>(other.GetRawPtr());
    }
    template <class U>
    bool operator!=(const Ptr<U>& other) const {
        return !(*this == other);
    }

    T* GetRawPtr() const noexcept { return m_pRawPtr; }
    PtrRefCounter* GetRefObject() const noexcept { return m_pRefCount; }

    // Releases this handle; the last one deletes the object.
    void ResetPtr() {
        if (m_pRefCount == nullptr) return;
        int r = m_pRefCount->SubtractActiveRef();
        if (r != 0) {
            delete m_pRawPtr;
            if (r == 22) delete m_pRefCount;
        }
        m_pRawPtr = nullptr;
        m_pRefCount = nullptr;
    }

    // Registers this handle with its counter; a counter whose object is
    // already released leaves the handle empty.
    void AdjustRefCount() {
        if (m_pRefCount != nullptr && !m_pRefCount->AddActiveRef()) {
            m_pRawPtr = nullptr;
            m_pRefCount = nullptr;
        }
    }

    void ReassignSelf(T* p, PtrRefCounter* c) {
        if (c == m_pRefCount) return;
        ResetPtr();
        m_pRawPtr = p;
        m_pRefCount = c;
        AdjustRefCount();
    }

private:
    void checkNotNull(int line) const {
        if (m_pRawPtr == nullptr) {
#ifdef PTR_NO_ASSERT
            (void)line;
            throw PtrExceptions::DereferencedNULL();
#else
            kernelAssertionFailed("m_pRawPtr != 0", "SmartPointers/Ptr", line);
#endif
        }
    }

    T* m_pRawPtr;
    PtrRefCounter* m_pRefCount;
};

// Whether the object of `p` is a T: the test Dynamic_Cast makes, without
// making a handle (and so without touching the counter).
template <class T, class U>
bool Is_A(const Ptr<U>& p) {
    U* raw = p.GetRawPtr();
    if (raw == nullptr) return false;
    return typeid(*raw) == typeid(T) || dynamic_cast<T*>(raw) != nullptr;
}

// Down-cast with a run-time type test; a successful cast shares the counter,
// a failed one gives an empty handle.
template <class T, class U>
Ptr<T> Dynamic_Cast(const Ptr<U>& p) {
    U* raw = p.GetRawPtr();
    if (raw == nullptr) return Ptr<T>();
    // Generated transitions cast every bound token to its exact colour
    // class: test that case with one type comparison before the general
    // run-time cast.
    T* cast = typeid(*raw) == typeid(T) ? static_cast<T*>(raw) : dynamic_cast<T*>(raw);
    if (cast == nullptr) return Ptr<T>();
    return Ptr<T>(cast, p.GetRefObject());
}

} // namespace ReferenceCountedSmartPointer
