// CZtEvent: Windows event semantics (manual/auto reset, named sharing) on the standard library.
#include <chrono>
#include <map>

#include "zt/zt_sync.h"

struct CZtEvent::State {
    State(bool manual, bool initial) : manualReset(manual), signalled(initial) {}
    std::mutex mutex;
    std::condition_variable cond;
    const bool manualReset;
    bool signalled;
};

namespace {

// Thread-safe. The process-wide table of named events; an entry lives as long as some CZtEvent
// holds its state, like a kernel object lives as long as some handle.
class NamedEventTable {
public:
    static NamedEventTable& Instance() {
        // Never destroyed: plug-in objects torn down at exit may still call in.
        static NamedEventTable* const table = new NamedEventTable;
        return *table;
    }

    std::shared_ptr<CZtEvent::State> Open(const std::wstring& name, bool manual, bool initial) {
        std::lock_guard lock(m_mutex);
        for (auto it = m_states.begin(); it != m_states.end();) {
            it = it->second.expired() ? m_states.erase(it) : std::next(it);
        }
        // An existing event keeps its own reset mode and state, as on Windows.
        if (auto existing = m_states[name].lock()) {
            return existing;
        }
        auto state = std::make_shared<CZtEvent::State>(manual, initial);
        m_states[name] = state;
        return state;
    }

private:
    std::mutex m_mutex;
    std::map<std::wstring, std::weak_ptr<CZtEvent::State>> m_states;
};

}  // namespace

CZtEvent::CZtEvent(bool manualReset, bool initialState, const wchar_t* name)
    : m_name(name ? name : L"") {
    m_state = m_name.empty() ? std::make_shared<State>(manualReset, initialState)
                             : NamedEventTable::Instance().Open(m_name, manualReset, initialState);
}

CZtEvent::~CZtEvent() = default;

void CZtEvent::Set() {
    std::lock_guard lock(m_state->mutex);
    m_state->signalled = true;
    if (m_state->manualReset) {
        m_state->cond.notify_all();
    } else {
        m_state->cond.notify_one();
    }
}

void CZtEvent::Reset() {
    std::lock_guard lock(m_state->mutex);
    m_state->signalled = false;
}

ZT_DWORD CZtEvent::Wait(ZT_DWORD timeoutMs) {
    std::unique_lock lock(m_state->mutex);
    const auto signalled = [this] { return m_state->signalled; };
    if (timeoutMs == ZT_INFINITE) {
        m_state->cond.wait(lock, signalled);
    } else if (!m_state->cond.wait_for(lock, std::chrono::milliseconds(timeoutMs), signalled)) {
        return ZT_WAIT_TIMEOUT;
    }
    if (!m_state->manualReset) {
        m_state->signalled = false;
    }
    return ZT_WAIT_OBJECT_0;
}
