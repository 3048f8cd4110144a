// The begin/end trace lines of one SDK proxy call.
#include "cztverovecalltrace.h"

#include "verove_log.h"
#include "zt/zt_util.h"

CZtVeroveCallTrace::CZtVeroveCallTrace(const char* function, std::wstring name, bool hasHandle,
                                       int handle)
    : m_function(function),
      m_name(std::move(name)),
      m_hasHandle(hasHandle),
      m_handle(handle),
      m_start(ZT_GetTimeCounter()) {
    if (m_hasHandle) {
        VEROVE_LOG_DETAIL(m_function, L"%s(%d) - start", m_name.c_str(), m_handle);
    } else {
        VEROVE_LOG_DETAIL(m_function, L"%s - start", m_name.c_str());
    }
}

CZtVeroveCallTrace::~CZtVeroveCallTrace() {
    try {
        WriteEnd();
    } catch (...) {
    }
}

void CZtVeroveCallTrace::WriteEnd() {
    const int ms = static_cast<int>(ZT_GetTimeCounter() - m_start);
    const wchar_t* name = m_name.c_str();
    if (m_error) {
        if (m_hasHandle) {
            VEROVE_LOG(m_function,
                       L"Error: %s(%d) - end, execution time %d ms, device error code %d%s", name,
                       m_handle, ms, m_code, m_suffix.c_str());
        } else {
            VEROVE_LOG(m_function, L"Error: %s - end, execution time %d ms, device error code %d%s",
                       name, ms, m_code, m_suffix.c_str());
        }
    } else if (!CZtLogFile::Detail()) {
        return;
    } else if (m_returned) {
        if (m_hasHandle) {
            VEROVE_LOG(m_function, L"%s(%d) - end, returned %s, execution time %d ms", name,
                       m_handle, m_returned->c_str(), ms);
        } else {
            VEROVE_LOG(m_function, L"%s - end, returned %s, execution time %d ms", name,
                       m_returned->c_str(), ms);
        }
    } else if (m_hasHandle) {
        VEROVE_LOG(m_function, L"%s(%d) - end, execution time %d ms", name, m_handle, ms);
    } else {
        VEROVE_LOG(m_function, L"%s - end, execution time %d ms", name, ms);
    }
}
