// The host's macro layer: the manual-shot procedure, the protocol of recorded command lines and
// the command interpreter.
#pragma once

#include "zt/zt_export.h"

// Starts (on != 0) or ends (on == 0) a manual stimulation shot of the stimulation device named
// deviceName: parameter is the group mask, duration the time in milliseconds after which the host
// ends the shot by itself (<= 0: until it is ended). 0; -4 for a null name; -5 when no stimulation
// device has the name; else the device's status.
ZTHOST_API int ManualShot(const wchar_t* deviceName, int on, double duration, int parameter);

// Records one command line in the host's macro protocol, as if the user had run it. 0; -4 null.
ZTHOST_API int Protocol_Command(const wchar_t* commandLine);

// Runs one command line, such as "ManualShot(\"name\", 0, 0.0, 3);": a procedure name and its
// arguments in parentheses (double-quoted texts and numbers, separated by commas), an optional
// semicolon. 0 or the procedure's status; -4 for a null or unparsable line; -5 when the host
// knows no procedure of that name.
ZTHOST_API int CLI_Command(const wchar_t* commandLine);

// Whether the macro layer knows a procedure of that name.
ZTHOST_API bool ZT_FindProcedure(const wchar_t* name);
