// The SDK proxy's per-handle locks.
#include "cztverovehandlelocks.h"

bool CZtVeroveHandleLocks::HandleLock::Enter() {
    std::unique_lock<std::mutex> lock(m_mutex);
    const std::thread::id self = std::this_thread::get_id();
    if (m_depth > 0 && m_owner == self) {
        ++m_depth;
        return true;
    }
    m_changed.wait(lock, [this] { return m_depth == 0 || m_closing; });
    if (m_closing) {
        return false;
    }
    m_owner = self;
    m_depth = 1;
    return true;
}

void CZtVeroveHandleLocks::HandleLock::EnterToClose() {
    std::unique_lock<std::mutex> lock(m_mutex);
    const std::thread::id self = std::this_thread::get_id();
    if (m_depth == 0 || m_owner != self) {
        m_changed.wait(lock, [this] { return m_depth == 0; });
        m_owner = self;
    }
    ++m_depth;
}

void CZtVeroveHandleLocks::HandleLock::Leave() {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (--m_depth == 0) {
        m_owner = std::thread::id();
        m_changed.notify_all();
    }
}

void CZtVeroveHandleLocks::HandleLock::MarkClosing() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_closing = true;
    m_changed.notify_all();
}

std::shared_ptr<void> CZtVeroveHandleLocks::Lock(int handle) {
    std::shared_ptr<HandleLock> section;
    {
        std::lock_guard<std::mutex> table(m_mutex);
        if (m_closedHandles.count(handle)) {
            return nullptr;
        }
        std::shared_ptr<HandleLock>& entry = m_locks[handle];
        if (!entry) {
            entry = std::make_shared<HandleLock>();
        }
        section = entry;
    }
    // The section outlives its table entry while a caller still holds it, so Close may drop the
    // entry at any time.
    if (!section->Enter()) {
        return nullptr;
    }
    return std::shared_ptr<void>(section.get(), [section](void*) { section->Leave(); });
}

std::shared_ptr<CZtVeroveHandleLocks::HandleLock> CZtVeroveHandleLocks::BeginClosing(int handle) {
    std::shared_ptr<HandleLock> section;
    {
        std::lock_guard<std::mutex> table(m_mutex);
        m_closedHandles.insert(handle);
        std::shared_ptr<HandleLock>& entry = m_locks[handle];
        if (!entry) {
            entry = std::make_shared<HandleLock>();
        }
        section = entry;
    }
    section->MarkClosing();
    return section;
}

void CZtVeroveHandleLocks::ForgetClosed(int handle) {
    std::lock_guard<std::mutex> table(m_mutex);
    m_closedHandles.erase(handle);
}

void CZtVeroveHandleLocks::Erase(int handle) {
    std::lock_guard<std::mutex> table(m_mutex);
    m_locks.erase(handle);
}
