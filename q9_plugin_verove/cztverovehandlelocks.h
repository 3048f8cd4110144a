// The SDK proxy's per-handle locks: the lock that serialises the calls on each handle, and which
// handles are closed.
#pragma once

#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <thread>

// Thread-safe. The table of the handles' locks. Its mutex is a leaf: nothing is called while it is
// held, so finding a handle's lock never waits for the proxy's global lock, which FinaliseLibrary
// holds while the SDK ends its threads.
class CZtVeroveHandleLocks {
public:
    // Thread-safe. One handle's lock, re-entrant for the thread holding it. Once Close has begun,
    // every other thread waiting for it gives up, so that Close may hold it while the SDK ends the
    // threads whose callbacks would wait for it.
    class HandleLock {
    public:
        // False when the handle is being closed by another thread.
        bool Enter();
        // For Close: waits for the call inside to end, whatever the closing mark says.
        void EnterToClose();
        void Leave();
        void MarkClosing();

    private:
        std::mutex m_mutex;
        std::condition_variable m_changed;
        std::thread::id m_owner;  // m_mutex, as are the two below
        int m_depth = 0;
        bool m_closing = false;
    };

    // The handle's lock, created on first use; entered on return and left when the result dies.
    // Null, without an entry made, for a handle that is closed or being closed.
    std::shared_ptr<void> Lock(int handle);
    // Turns new and waiting callers of the handle away and returns its lock, not entered.
    std::shared_ptr<HandleLock> BeginClosing(int handle);
    // The handle is open again (the SDK handed it out anew).
    void ForgetClosed(int handle);
    // Drops the handle's entry; a caller still inside its lock keeps the lock alive.
    void Erase(int handle);

private:
    std::mutex m_mutex;
    std::map<int, std::shared_ptr<HandleLock>> m_locks;  // m_mutex
    std::set<int> m_closedHandles;                       // m_mutex; closed, not opened again since
};
