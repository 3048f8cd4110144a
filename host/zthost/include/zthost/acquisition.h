// Control side of the host's acquisition services: the grabber's scan-area form, the macro layer
// with its protocol and command interpreter, and the picture display. Plug-ins never include this
// header; they see these services through zt/zt_grabber.h, zt/zt_macro.h and zt/zt_display.h.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "zt/zt_export.h"
#include "zt/zt_grabber.h"

namespace zthost {

// ---- Scan-area form ----------------------------------------------------------------------------
// The grabber provider shows a scan-area form holding desc: its GUI element "CZtScanAreaElement"
// answers IZtScanAreaElement. Replaces the form's description when one is shown.
ZTHOST_API void SetScanAreaForm(const SZtScanAreaDesc& desc);
// The provider shows no scan-area form afterwards (the start state).
ZTHOST_API void RemoveScanAreaForm();

// ---- Macro layer -------------------------------------------------------------------------------
// One argument of a command line: a double-quoted text, or a number.
struct MacroArgument {
    bool isText = false;
    std::wstring text;
    double number = 0.0;
};
using MacroProcedure = std::function<int(const std::vector<MacroArgument>& arguments)>;

// Makes CLI_Command run procedure for name (replacing a procedure of that name). The host knows
// "ManualShot" from the start: it calls ManualShot with (text, number, number, number).
ZTHOST_API void RegisterProcedure(const std::wstring& name, MacroProcedure procedure);
ZTHOST_API void UnregisterProcedure(const std::wstring& name);

// The lines Protocol_Command recorded, in order.
ZTHOST_API std::vector<std::wstring> ProtocolLines();
// Every line given to CLI_Command, in order, whether it ran or not.
ZTHOST_API std::vector<std::wstring> CliCommands();

// One call of ManualShot, from the plug-in or from a command line.
struct ManualShotRecord {
    std::wstring deviceName;
    int on = 0;
    double duration = 0.0;
    int parameter = 0;
    int result = 0;
};
ZTHOST_API std::vector<ManualShotRecord> ManualShotCalls();
// How many shots the host ended by itself when their duration was over.
ZTHOST_API int ManualShotTimedEndCount();
// Forgets the protocol, the command lines, the shot calls and the redraw requests; a timed shot
// still pending is cancelled.
ZTHOST_API void ClearMacroRecords();

// ---- Picture display ---------------------------------------------------------------------------
// The flags of every Q9_Display_PictureInc call, in order (ClearMacroRecords forgets them).
ZTHOST_API std::vector<int> PictureRedrawRequests();

}  // namespace zthost
