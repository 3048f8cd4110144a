// Synchronisation primitives with Windows semantics, on the C++ standard library.
#pragma once

#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>

#include "zt/zt_export.h"

// Thread-safe. A recursive critical section: the owning thread may enter it again.
class ZTHOST_API CZtCriticalSection {
public:
    void Enter() { m_mutex.lock(); }
    bool TryEnter() { return m_mutex.try_lock(); }
    void Leave() { m_mutex.unlock(); }

    // Lockable names so std::lock_guard/std::unique_lock work too.
    void lock() { Enter(); }
    void unlock() { Leave(); }
    bool try_lock() { return TryEnter(); }

private:
    std::recursive_mutex m_mutex;
};

// Scoped holder of a CZtCriticalSection.
class CZtLock {
public:
    explicit CZtLock(CZtCriticalSection& section) : m_section(section) { m_section.Enter(); }
    ~CZtLock() { m_section.Leave(); }
    CZtLock(const CZtLock&) = delete;
    CZtLock& operator=(const CZtLock&) = delete;

private:
    CZtCriticalSection& m_section;
};

// Thread-safe. An event object: manual-reset events stay signalled until Reset and release every
// waiter; auto-reset events release exactly one waiter and reset themselves. A named event is one
// process-wide object per name: every CZtEvent created with the same name shares its state.
class ZTHOST_API CZtEvent {
public:
    CZtEvent(bool manualReset, bool initialState, const wchar_t* name = nullptr);
    ~CZtEvent();
    CZtEvent(const CZtEvent&) = delete;
    CZtEvent& operator=(const CZtEvent&) = delete;

    void Set();
    void Reset();
    // Returns ZT_WAIT_OBJECT_0 when signalled, ZT_WAIT_TIMEOUT when the timeout expired first.
    ZT_DWORD Wait(ZT_DWORD timeoutMs = ZT_INFINITE);
    bool IsNamed() const { return !m_name.empty(); }

    struct State;

private:
    std::shared_ptr<State> m_state;
    std::wstring m_name;
};

// Thread-safe. A counting semaphore with a maximum count.
class ZTHOST_API CZtSemaphore {
public:
    CZtSemaphore(long initialCount, long maximumCount);
    // Adds count; fails (returns false, count unchanged) when the maximum would be exceeded.
    bool Release(long count = 1, long* previousCount = nullptr);
    ZT_DWORD Wait(ZT_DWORD timeoutMs = ZT_INFINITE);

private:
    std::mutex m_mutex;
    std::condition_variable m_cond;
    long m_count;
    long m_maximum;
};
