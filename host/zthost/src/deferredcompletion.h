// DeferredCompletion: the accepted commands of physical devices in deferred completion, finished
// in arrival order on a thread of its own.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <set>
#include <thread>

#include "statecommand.h"

// Thread-safe. The completion function runs on the completion thread without this object's lock,
// so it may take its owner's lock; the owner may queue while holding its own.
class DeferredCompletion {
public:
    using Complete = std::function<void(const StateCommand&)>;

    explicit DeferredCompletion(Complete complete);
    ~DeferredCompletion();
    DeferredCompletion(const DeferredCompletion&) = delete;
    DeferredCompletion& operator=(const DeferredCompletion&) = delete;

    void Queue(ZT_DWORD physicalId, const StateCommand& command);
    // 0 once none of the device's commands is pending (at once when none is); -11 when timeoutMs
    // ran out first (ZT_INFINITE: no limit).
    int Wait(ZT_DWORD physicalId, ZT_DWORD timeoutMs);
    void Hold(ZT_DWORD physicalId, bool hold);
    int PendingCount(ZT_DWORD physicalId);
    // Drops the pending commands and the holds and stops the thread; waiters return at once.
    // Not while another thread queues.
    void Clear();

private:
    struct Entry {
        ZT_DWORD physicalId;
        StateCommand command;
        bool running;
    };

    void Run();
    // The first pending command of a device that is not held: its own device's commands before it
    // are all done, so each device's commands complete in order.
    std::deque<Entry>::iterator NextLocked();
    bool PendingLocked(ZT_DWORD physicalId) const;

    const Complete m_complete;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<Entry> m_pending;  // guarded by m_mutex; in arrival order
    std::set<ZT_DWORD> m_held;    // guarded by m_mutex
    bool m_stop = false;          // guarded by m_mutex
    std::thread m_thread;         // guarded by m_mutex; started by the first Queue
};
