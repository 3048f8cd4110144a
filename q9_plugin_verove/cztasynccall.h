// A call run on the host's thread pool, with a completion record the caller waits on.
#pragma once

#include <atomic>
#include <functional>

#include "zt/zt_sync.h"

// Thread-safe. Shared by the caller and the worker; whoever drops the last reference frees it.
// A caller whose wait runs out lets go of the record; the call itself keeps running.
class CZtAsyncCall {
public:
    // Queues work (its arguments bound by value) on the host's thread pool. The record comes back
    // holding the caller's reference; null when the pool refused the item.
    static CZtAsyncCall* Start(std::function<void()> work);
    // Waits up to timeoutMs for the call to finish, then drops the caller's reference. True when
    // the call finished in time.
    bool WaitAndRelease(ZT_DWORD timeoutMs);

private:
    explicit CZtAsyncCall(std::function<void()> work) : m_work(std::move(work)) {}
    static unsigned long Run(void* context);
    void Release();

    std::atomic<long> m_references{1};
    CZtEvent m_done{false, false};
    std::function<void()> m_work;
};
