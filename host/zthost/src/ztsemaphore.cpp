// CZtSemaphore: a counting semaphore with a maximum count, Windows semantics.
#include <algorithm>
#include <chrono>

#include "zt/zt_sync.h"

CZtSemaphore::CZtSemaphore(long initialCount, long maximumCount)
    : m_count(0), m_maximum(std::max(1L, maximumCount)) {
    m_count = std::clamp(initialCount, 0L, m_maximum);
}

bool CZtSemaphore::Release(long count, long* previousCount) {
    std::lock_guard lock(m_mutex);
    if (count <= 0 || count > m_maximum - m_count) {
        return false;
    }
    if (previousCount) {
        *previousCount = m_count;
    }
    m_count += count;
    if (count == 1) {
        m_cond.notify_one();
    } else {
        m_cond.notify_all();
    }
    return true;
}

ZT_DWORD CZtSemaphore::Wait(ZT_DWORD timeoutMs) {
    std::unique_lock lock(m_mutex);
    const auto available = [this] { return m_count > 0; };
    if (timeoutMs == ZT_INFINITE) {
        m_cond.wait(lock, available);
    } else if (!m_cond.wait_for(lock, std::chrono::milliseconds(timeoutMs), available)) {
        return ZT_WAIT_TIMEOUT;
    }
    --m_count;
    return ZT_WAIT_OBJECT_0;
}
