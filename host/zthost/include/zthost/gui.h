// Control side of the host's GUI: zoom, the acquisition controls and their device pads. Plug-ins
// never include this header.
#pragma once

#include <QObject>
#include <QStringList>
#include <functional>
#include <string>
#include <vector>

#include "zt/zt_export.h"

class CZtGUIElement;
class CZtTabContainer;
class QFileDialog;
class QWidget;

namespace zthost {

// GUI thread only.

// Sets the GUI zoom (above 0) and tells every created control element (OnGuiZoomChanged).
ZTHOST_API void SetGUIZoom(double zoom);
// The host's tab container of acquisition controls, created on first use.
ZTHOST_API CZtTabContainer* AcquisitionControls();
// Does what the host does with a device's control pad element (IZtDeviceDMD's
// GetControlPadGUIElement): setupUi once, then CreateUI with the name under parent (the
// acquisition controls when null). Returns the element's window; null for an object that is no
// control element.
ZTHOST_API QWidget* AddControlPad(QObject* element, const std::wstring& name,
                                  CZtGUIElement* parent = nullptr);
// Zoom back to 1.0; the acquisition controls are deleted.
ZTHOST_API void ResetGui();

// Answers the open-files dialogs (ZT_GetOpenFileNames) while set: called with the shown dialog,
// it returns the files the user chose, in order (empty: Cancel). An empty function removes it.
using OpenFilesAnswer = std::function<QStringList(QFileDialog* dialog)>;
ZTHOST_API void SetOpenFilesAnswer(OpenFilesAnswer answer);
// Drops files on the application: the modules registered for
// "ZT_MODULEEVENT_PLUGIN_PROCESS_DRAGDROP" get the drop record (DragQueryFileW reads it) as the
// event's param. Whether one of them handled it.
ZTHOST_API bool DropFiles(const std::vector<std::wstring>& paths);

}  // namespace zthost
