// The diagnostic log: DiagOutputLocation/DiagOutputExW, CZtLogFile and the host's log controls.
#include "diagnosticlog.h"

#include <QString>
#include <algorithm>
#include <chrono>
#include <cstdarg>
#include <cstring>
#include <ctime>
#include <sstream>
#include <thread>

#include "zt/zt_log.h"
#include "zt/zt_string.h"
#include "zthost/zthost.h"

namespace {

struct SourceLocation {
    const char* file = nullptr;
    int line = 0;
};
thread_local SourceLocation t_location;

std::string BaseName(const char* path) {
    const char* slash = std::strrchr(path, '/');
    const char* backslash = std::strrchr(path, '\\');
    const char* base = std::max(slash, backslash);
    return base ? base + 1 : path;
}

// "yyyy-MM-dd hh:mm:ss.zzz" in local time.
std::string LocalTimestamp() {
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    const auto millis =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() %
        1000;
    std::tm local{};
#if defined(_WIN32)
    localtime_s(&local, &seconds);
#else
    localtime_r(&seconds, &local);
#endif
    char text[32];
    const size_t length = std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    std::snprintf(text + length, sizeof text - length, ".%03d", static_cast<int>(millis));
    return text;
}

std::FILE* OpenForWriting(const std::wstring& path) {
#if defined(_WIN32)
    return _wfopen(path.c_str(), L"wb");
#else
    return std::fopen(QString::fromStdWString(path).toLocal8Bit().constData(), "wb");
#endif
}

}  // namespace

DiagnosticLog& DiagnosticLog::Instance() {
    // Never destroyed: objects torn down at exit may still log.
    static DiagnosticLog* const log = new DiagnosticLog;
    return *log;
}

void DiagnosticLog::Write(const std::wstring& message, const char* file, int line) {
    std::ostringstream thread;
    thread << std::this_thread::get_id();
    std::string suffix = " [" + thread.str() + "]";
    if (file) {
        suffix += " [" + BaseName(file) + ":" + std::to_string(line) + "]";
    }
    suffix += " " + CZtStringW(message).ToUtf8() + "\n";

    std::lock_guard lock(m_mutex);
    // Stamped under the lock: the file's lines are in time order, and the C library's time zone
    // state is touched by one thread at a time.
    const std::string text = LocalTimestamp() + suffix;
    if (m_file) {
        std::fwrite(text.data(), 1, text.size(), m_file);
        // Flushed per line: the log is read after crashes.
        std::fflush(m_file);
    }
    if (m_echo) {
        std::fwrite(text.data(), 1, text.size(), stdout);
        std::fflush(stdout);
    }
    if (m_captured.size() >= kMaxCapturedLines) {
        m_captured.pop_front();
    }
    m_captured.push_back(message);
}

bool DiagnosticLog::SetFile(const std::wstring& path) {
    std::lock_guard lock(m_mutex);
    if (m_file) {
        std::fclose(m_file);
        m_file = nullptr;
    }
    m_path = path;
    if (!path.empty()) {
        m_file = OpenForWriting(path);
        if (!m_file) {
            m_path.clear();
            return false;
        }
    }
    return true;
}

std::wstring DiagnosticLog::FilePath() {
    std::lock_guard lock(m_mutex);
    return m_path;
}

std::vector<std::wstring> DiagnosticLog::Captured() {
    std::lock_guard lock(m_mutex);
    return {m_captured.begin(), m_captured.end()};
}

void DiagnosticLog::ClearCaptured() {
    std::lock_guard lock(m_mutex);
    m_captured.clear();
}

bool DiagnosticLog::Contains(const std::wstring& text) {
    std::lock_guard lock(m_mutex);
    return std::any_of(m_captured.begin(), m_captured.end(), [&](const std::wstring& line) {
        return line.find(text) != std::wstring::npos;
    });
}

void DiagOutputLocation(const char* file, int line) {
    t_location = {file, line};
}

void DiagOutputExW(const wchar_t* format, ...) {
    const SourceLocation location = t_location;
    t_location = {};
    if (!format) {
        return;
    }
    va_list args;
    va_start(args, format);
    std::wstring message = ZT_FormatWV(format, args);
    va_end(args);
    DiagnosticLog::Instance().Write(message, location.file, location.line);
}

bool CZtLogFile::Detail() {
    return DiagnosticLog::Instance().Detail();
}

namespace zthost {

bool SetLogFile(const std::wstring& path) {
    return DiagnosticLog::Instance().SetFile(path);
}

std::wstring LogFilePath() {
    return DiagnosticLog::Instance().FilePath();
}

void SetDetailLogging(bool on) {
    DiagnosticLog::Instance().SetDetail(on);
}

std::vector<std::wstring> CapturedLog() {
    return DiagnosticLog::Instance().Captured();
}

void ClearCapturedLog() {
    DiagnosticLog::Instance().ClearCaptured();
}

bool LogContains(const std::wstring& text) {
    return DiagnosticLog::Instance().Contains(text);
}

void SetLogEcho(bool on) {
    DiagnosticLog::Instance().SetEcho(on);
}

}  // namespace zthost
