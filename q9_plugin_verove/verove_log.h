// The plug-in's lines in the host's diagnostic log: "Verove <function>: <message>".
#pragma once

#include "zt/zt_log.h"

// Reentrant: the host log serialises the lines.
//
// Writes "%s %hs: %s" with the tag "Verove", the qualified function name and the message
// formatted from format (wide-printf convention: %s wide, %hs narrow).
void VeroveLog(const char* function, const wchar_t* format, ...);
// The same, written only while the host's detailed logging is on.
void VeroveLogDetail(const char* function, const wchar_t* format, ...);

// The calling thread's identifier, as log lines name threads.
unsigned VeroveThreadId();

// Source-location form: records file and line for the host log before the line itself.
#define VEROVE_LOG(function, ...)               \
    do {                                        \
        DiagOutputLocation(__FILE__, __LINE__); \
        VeroveLog(function, __VA_ARGS__);       \
    } while (0)
#define VEROVE_LOG_DETAIL(function, ...)        \
    do {                                        \
        DiagOutputLocation(__FILE__, __LINE__); \
        VeroveLogDetail(function, __VA_ARGS__); \
    } while (0)
