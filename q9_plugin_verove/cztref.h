// One counted reference on an interface (AddRef/Release), held for a scope or a member's lifetime.
#pragma once

#include <utility>

// Thread-compatible: one CZtRef is used by one thread at a time (or under its owner's lock); the
// object it points to counts its references itself.
template <class T>
class CZtRef {
public:
    CZtRef() = default;
    // Adds a reference of its own: the caller keeps the one it has.
    explicit CZtRef(T* object) : m_object(object) {
        if (m_object) {
            m_object->AddRef();
        }
    }
    // Takes over a reference the caller already holds, such as a QueryInterface or creation
    // answer, which is released with this holder instead.
    static CZtRef Adopt(T* object) {
        CZtRef ref;
        ref.m_object = object;
        return ref;
    }
    CZtRef(const CZtRef& other) : CZtRef(other.m_object) {}
    CZtRef(CZtRef&& other) noexcept : m_object(std::exchange(other.m_object, nullptr)) {}
    CZtRef& operator=(CZtRef other) noexcept {
        std::swap(m_object, other.m_object);
        return *this;
    }
    ~CZtRef() { reset(); }

    // Holds object (with a reference of its own) instead. The old reference goes last, so an
    // object whose release calls back into the holder's owner finds the holder already changed.
    void reset(T* object = nullptr) {
        if (object) {
            object->AddRef();
        }
        if (T* old = std::exchange(m_object, object)) {
            old->Release();
        }
    }

    T* get() const { return m_object; }
    T* operator->() const { return m_object; }
    explicit operator bool() const { return m_object != nullptr; }

private:
    T* m_object = nullptr;
};
