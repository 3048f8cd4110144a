// The host's diagnostic log.
#pragma once

#include "zt/zt_export.h"

// Records the source location for the next DiagOutputExW call of this thread.
ZTHOST_API void DiagOutputLocation(const char* file, int line);
// Writes one formatted line (wide-printf convention of CZtStringW::Format) to the host log.
ZTHOST_API void DiagOutputExW(const wchar_t* format, ...);

// Thread-safe.
class ZTHOST_API CZtLogFile {
public:
    // Whether detailed logging is on; detail lines are written only then.
    static bool Detail();
};

// One log line: location call, then the line itself.
#define ZT_DIAG_OUTPUT(...)                     \
    do {                                        \
        DiagOutputLocation(__FILE__, __LINE__); \
        DiagOutputExW(__VA_ARGS__);             \
    } while (0)
