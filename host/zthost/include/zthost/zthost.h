// Control side of the reference host: what host programs and tests use to run and inspect it.
// Plug-ins never include this header; they see the host only through host/include.
#pragma once

#include <string>
#include <vector>

#include "zt/zt_class.h"
#include "zt/zt_export.h"
#include "zt/zt_module.h"

namespace zthost {

// ---- Diagnostic log -------------------------------------------------------------------------
// Every DiagOutputExW line goes to the log file (when one is set) and to an in-memory capture.
// Starts a new log file (empty: none); false when it cannot be opened (no file then).
ZTHOST_API bool SetLogFile(const std::wstring& path);
ZTHOST_API std::wstring LogFilePath();
ZTHOST_API void SetDetailLogging(bool on);
ZTHOST_API std::vector<std::wstring> CapturedLog();
ZTHOST_API void ClearCapturedLog();
// True when some captured line contains text.
ZTHOST_API bool LogContains(const std::wstring& text);
// Mirrors every line to stdout as it is written (host programs that show the log live).
ZTHOST_API void SetLogEcho(bool on);

// ---- Pictures --------------------------------------------------------------------------------
// Picture operations take AVX-512 steps on processors that have them, else AVX2 steps on those
// that have those. Neither allowed, they run the SSE2 steps every x86-64 processor has, which
// tests compare with. Both allowed at start.
ZTHOST_API void SetAvx512Allowed(bool allowed);
ZTHOST_API void SetAvx2Allowed(bool allowed);

// ---- Message boxes ---------------------------------------------------------------------------
struct MessageBoxRecord {
    std::wstring title;
    std::wstring text;
    unsigned buttons = 0;  // ZT_MB_OK, ZT_MB_OKCANCEL, ...
    unsigned icon = 0;     // ZT_MB_ICONERROR, ...
    int answer = 0;        // what ZT_MessageBox_ returned
};
// With the GUI shown, ZT_MessageBox_ opens a real QMessageBox; otherwise it records the box and
// answers at once: the next queued answer, else the default button (OK, or YES).
ZTHOST_API void SetGuiShown(bool shown);
ZTHOST_API bool GuiShown();
ZTHOST_API std::vector<MessageBoxRecord> MessageBoxes();
ZTHOST_API void ClearMessageBoxes();
ZTHOST_API void QueueMessageBoxAnswer(int answer);

// ---- Save-file dialogs -----------------------------------------------------------------------
struct SaveFileDialogRecord {
    std::wstring title;
    std::wstring folder;  // proposed
    std::wstring name;    // proposed
    std::wstring filter;
};
// With the GUI shown, ZT_GetSaveFileName opens a real file dialog; otherwise it records the
// dialog and answers the next queued choice (an empty choice cancels; no choice queued cancels).
ZTHOST_API std::vector<SaveFileDialogRecord> SaveFileDialogs();
ZTHOST_API void QueueSaveFileChoice(const std::wstring& path);
// The folder ZT_GetStoragePath answers; until set, the application's data folder
// (QStandardPaths::AppDataLocation).
ZTHOST_API void SetStoragePath(const std::wstring& folder);

// ---- Translations ----------------------------------------------------------------------------
// Identity unless a table is set.
ZTHOST_API void SetTranslation(const std::wstring& text, const std::wstring& translated);
ZTHOST_API void ClearTranslations();
ZTHOST_API std::vector<std::string> TranslationModules();  // modules that handed in resources

// ---- Search path -----------------------------------------------------------------------------
ZTHOST_API void SetSearchFolders(const std::vector<std::wstring>& folders);
ZTHOST_API void PrependSearchFolder(const std::wstring& folder);
ZTHOST_API std::vector<std::wstring> SearchFolders();

// ---- Named references ------------------------------------------------------------------------
ZTHOST_API int NamedReferenceCount(const std::wstring& name);

// ---- Class registry --------------------------------------------------------------------------
// 0, -4 for an empty name or null constructor, -10 when the class is already registered.
ZTHOST_API int RegisterClass(const SZtClassRecord& record, ZT_CONSTRUCTOR constructor);
// 0, -5 when the class is not registered.
ZTHOST_API int UnregisterClass(const std::wstring& className);
ZTHOST_API bool FindClassRecord(const std::wstring& className, SZtClassRecord* record);
ZTHOST_API std::vector<std::wstring> RegisteredClassNames();  // sorted
// Loads a plug-in library, reads the class records it carries in its resources (":/ztclasses/")
// and registers each class with its exported ZT_ConstructorFor<Class>. Returns the number of
// classes registered, or -1 with error filled.
ZTHOST_API int LoadPluginLibrary(const std::wstring& path, std::wstring* error);

// ---- Host context ----------------------------------------------------------------------------
ZTHOST_API IZtHostContext* HostContext();
ZTHOST_API IZtPluginManager* PluginManager();

// ---- Stimulation devices ---------------------------------------------------------------------
// Makes the static device uniqueName the one GetActive answers (the user's choice); an empty
// name returns to the default, the first device. 0, -5 when no device has that name.
ZTHOST_API int SetActiveStimulationDevice(const std::wstring& uniqueName);
// How often the stimulation-device manager was told that the device list changed.
ZTHOST_API int StimulationDeviceUpdateCount();

// Forgets every registered static device (releasing its reference), module registration,
// registered class and the simulated microscope's devices and camera (the host then has no device
// manager and no grabber provider), closes every document, stops live mode, and returns the log
// capture, message boxes, save-file dialogs, storage path, translations, named references, search
// folders, detail switch, AVX-512 switch, "Fast Timelapse", galvo message flag, view settings, GUI
// (shown or not, zoom, the acquisition controls' tab container), focus drive, objectives, and the
// camera's optics, mirror-frame source and specimen to their start state. The log file setting is
// kept.
ZTHOST_API void ResetForTests();

}  // namespace zthost
