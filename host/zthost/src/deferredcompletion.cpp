// Deferred completion of device commands: a queue, one completion thread, and waits on it.
#include "deferredcompletion.h"

#include <algorithm>
#include <chrono>

#include "zt/zt_export.h"

DeferredCompletion::DeferredCompletion(Complete complete) : m_complete(std::move(complete)) {}

DeferredCompletion::~DeferredCompletion() {
    Clear();
}

void DeferredCompletion::Queue(ZT_DWORD physicalId, const StateCommand& command) {
    std::lock_guard lock(m_mutex);
    m_pending.push_back(Entry{physicalId, command, false});
    if (!m_thread.joinable()) {
        m_thread = std::thread(&DeferredCompletion::Run, this);
    }
    m_changed.notify_all();
}

int DeferredCompletion::Wait(ZT_DWORD physicalId, ZT_DWORD timeoutMs) {
    std::unique_lock lock(m_mutex);
    const auto done = [&] { return !PendingLocked(physicalId); };
    if (timeoutMs == ZT_INFINITE) {
        m_changed.wait(lock, done);
        return 0;
    }
    return m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), done) ? 0 : -11;
}

void DeferredCompletion::Hold(ZT_DWORD physicalId, bool hold) {
    std::lock_guard lock(m_mutex);
    if (hold) {
        m_held.insert(physicalId);
    } else {
        m_held.erase(physicalId);
    }
    m_changed.notify_all();
}

int DeferredCompletion::PendingCount(ZT_DWORD physicalId) {
    std::lock_guard lock(m_mutex);
    return static_cast<int>(std::count_if(m_pending.begin(), m_pending.end(), [&](const Entry& e) {
        return e.physicalId == physicalId;
    }));
}

void DeferredCompletion::Clear() {
    std::thread thread;
    {
        std::lock_guard lock(m_mutex);
        m_stop = true;
        m_pending.clear();
        m_held.clear();
        thread = std::move(m_thread);
        m_changed.notify_all();
    }
    if (thread.joinable()) {
        thread.join();
    }
    std::lock_guard lock(m_mutex);
    m_stop = false;
}

void DeferredCompletion::Run() {
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_changed.wait(lock, [&] { return m_stop || NextLocked() != m_pending.end(); });
        if (m_stop) {
            return;
        }
        const auto next = NextLocked();
        next->running = true;
        const StateCommand command = next->command;
        lock.unlock();
        m_complete(command);
        lock.lock();
        // Clear may have dropped the entry meanwhile.
        const auto done = std::find_if(m_pending.begin(), m_pending.end(),
                                       [](const Entry& e) { return e.running; });
        if (done != m_pending.end()) {
            m_pending.erase(done);
        }
        m_changed.notify_all();
    }
}

std::deque<DeferredCompletion::Entry>::iterator DeferredCompletion::NextLocked() {
    return std::find_if(m_pending.begin(), m_pending.end(),
                        [this](const Entry& e) { return m_held.count(e.physicalId) == 0; });
}

bool DeferredCompletion::PendingLocked(ZT_DWORD physicalId) const {
    return std::any_of(m_pending.begin(), m_pending.end(),
                       [physicalId](const Entry& e) { return e.physicalId == physicalId; });
}
