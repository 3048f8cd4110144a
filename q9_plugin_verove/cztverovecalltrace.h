// The begin/end trace lines of one SDK proxy call.
#pragma once

#include <optional>
#include <string>

// Thread-bound. The begin/end trace of one proxy call: the end line is written on every way out
// of the scope and carries the elapsed time and, after a failure, the device error code.
class CZtVeroveCallTrace {
public:
    CZtVeroveCallTrace(const char* function, std::wstring name, bool hasHandle = false,
                       int handle = 0);
    ~CZtVeroveCallTrace();

    CZtVeroveCallTrace(const CZtVeroveCallTrace&) = delete;
    CZtVeroveCallTrace& operator=(const CZtVeroveCallTrace&) = delete;

    const char* Function() const { return m_function; }
    void SetDeviceError(int code, const wchar_t* suffix = L"") {
        m_error = true;
        m_code = code;
        m_suffix = suffix;
    }
    void SetReturned(std::wstring text) { m_returned = std::move(text); }

private:
    // Failures are always written; the rest of the trace only with detailed logging.
    void WriteEnd();

    const char* m_function;
    std::wstring m_name;
    bool m_hasHandle;
    int m_handle;
    double m_start;
    bool m_error = false;
    int m_code = 0;
    std::wstring m_suffix;
    std::optional<std::wstring> m_returned;
};
