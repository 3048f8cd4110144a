// The plug-in's lines in the host's diagnostic log.
#include "verove_log.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <cstdarg>

#include "zt/zt_log.h"
#include "zt/zt_string.h"

namespace {

void WriteLine(const char* function, const wchar_t* format, va_list args) {
    const std::wstring message = ZT_FormatWV(format, args);
    DiagOutputExW(L"%s %hs: %s", L"Verove", function, message.c_str());
}

}  // namespace

void VeroveLog(const char* function, const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    WriteLine(function, format, args);
    va_end(args);
}

void VeroveLogDetail(const char* function, const wchar_t* format, ...) {
    if (!CZtLogFile::Detail()) {
        return;
    }
    va_list args;
    va_start(args, format);
    WriteLine(function, format, args);
    va_end(args);
}

unsigned VeroveThreadId() {
    return static_cast<unsigned>(syscall(SYS_gettid));
}
