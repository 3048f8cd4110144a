// DiagnosticLog: the host's log sink behind DiagOutputExW (file, in-memory capture, echo).
#pragma once

#include <atomic>
#include <cstdio>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

// Thread-safe. Each Write is one line: to the log file with a timestamp, thread and source
// location in front, and to the capture exactly as formatted.
class DiagnosticLog {
public:
    static DiagnosticLog& Instance();

    void Write(const std::wstring& message, const char* file, int line);

    bool SetFile(const std::wstring& path);
    std::wstring FilePath();
    void SetEcho(bool on) { m_echo = on; }
    void SetDetail(bool on) { m_detail = on; }
    bool Detail() const { return m_detail; }

    std::vector<std::wstring> Captured();
    void ClearCaptured();
    bool Contains(const std::wstring& text);

private:
    DiagnosticLog() = default;

    // A long-running host must not grow without bound; tests read far fewer lines.
    static constexpr size_t kMaxCapturedLines = 100000;

    std::mutex m_mutex;
    std::wstring m_path;
    std::FILE* m_file = nullptr;
    std::deque<std::wstring> m_captured;
    std::atomic<bool> m_echo{false};
    std::atomic<bool> m_detail{false};
};
