// Small host services: time counter, translations, message boxes, named references, search path.
#pragma once

#include <vector>

#include "zt/zt_export.h"
#include "zt/zt_string.h"

class QWidget;

// Milliseconds since an arbitrary start, monotonic.
ZTHOST_API double ZT_GetTimeCounter();

// The translation of a user text, or the text itself when no translation is known.
ZTHOST_API CZtStringW ZT_GetTranslation(const wchar_t* text);
// Hands a module's translations to the host: the raw resource data of the module.
ZTHOST_API int ZT_RegisterTranslations(const char* moduleName, const void* data, unsigned size);

// Whether the host's licence option of that name is on; the empty name is the base licence.
ZTHOST_API bool Q9_Obsolete_IsLoTrue(const wchar_t* option);

// Enables or disables the host's main window and its controls, as around a long operation the
// user must not interfere with.
ZTHOST_API void Q9_EnableGUI(bool enable);

// Message box types (buttons | icon) and answers, with the Windows values.
constexpr unsigned ZT_MB_OK = 0x0, ZT_MB_OKCANCEL = 0x1, ZT_MB_YESNOCANCEL = 0x3, ZT_MB_YESNO = 0x4,
                   ZT_MB_ICONERROR = 0x10, ZT_MB_ICONQUESTION = 0x20, ZT_MB_ICONWARNING = 0x30,
                   ZT_MB_ICONINFORMATION = 0x40;
constexpr int ZT_IDOK = 1, ZT_IDCANCEL = 2, ZT_IDYES = 6, ZT_IDNO = 7;

// Shows a message box (or, without a visible GUI, records it and answers at once).
ZTHOST_API int ZT_MessageBox_(QWidget* parent, const wchar_t* text, const wchar_t* title,
                              unsigned type);

// Thread-safe. Process-wide counters keyed by name, shared by every component of the process.
class ZTHOST_API CZtNamedReference {
public:
    // Both return the count after the change. Release of an unknown name returns 0.
    static int AddRef(const wchar_t* name);
    static int Release(const wchar_t* name);
};

// Looks a file up in the host's search folders; 0 when found (path filled, at most
// ZT_MAX_PATH characters with its terminator), -5 when not found, -4 for null arguments.
ZTHOST_API int ZT_SearchPath(const wchar_t* fileName, wchar_t* path, int pathSize);

// Asks the user for a file to save to: title, the folder and file name proposed, and a filter
// such as "Images (*.bmp)". 0 with chosen filled (the full path), 1 when cancelled, -4 for a
// null chosen. Without a visible GUI, answers from the host's queue of prepared choices.
ZTHOST_API int ZT_GetSaveFileName(const wchar_t* title, const wchar_t* proposedFolder,
                                  const wchar_t* proposedName, const wchar_t* filter,
                                  CZtStringW* chosen);
// The host's folder for user data files (patterns, exports). 0; -4 for a null path.
ZTHOST_API int ZT_GetStoragePath(CZtStringW* path);

// A work item of the host's thread pool: called once with the context it was queued with.
using ZT_WORK_ITEM = unsigned long (*)(void* context);
// The flag that marks a work item as long, so that the pool adds threads rather than let it hold
// back other items.
constexpr unsigned long ZT_WORKITEM_LONGFUNCTION = 0x10;
// Thread-safe. Queues function(context) on the host's thread pool. True when queued; false for a
// null function.
ZTHOST_API bool ZT_QueueUserWorkItem(ZT_WORK_ITEM function, void* context, unsigned long flags);

// Asks the user for existing files to open: title, filters as "Name (*.a *.b);;Other (*.c)" with
// selectedFilter preselected, several files when multiple is set. 0 with chosen filled (full
// paths, in the dialog's order), 1 when cancelled, -4 for a null chosen. Runs modally over parent;
// without a visible GUI and without a test's answer (zthost/gui.h) it is cancelled at once.
ZTHOST_API int ZT_GetOpenFileNames(QWidget* parent, const wchar_t* title, const wchar_t* filters,
                                   const wchar_t* selectedFilter, bool multiple,
                                   std::vector<CZtStringW>* chosen);

// The files of a drop on the application, as the host's drag-and-drop event hands them over.
#ifdef _WIN32
#include <shellapi.h>
#else
typedef struct HDROP__* HDROP;
// index 0xFFFFFFFF: the number of files. Otherwise the length of file index without terminator
// when buffer is null, else the characters copied into buffer (at most size - 1, terminated);
// 0 for an index out of range or a null drop.
ZTHOST_API unsigned DragQueryFileW(HDROP drop, unsigned index, wchar_t* buffer, unsigned size);
#endif
