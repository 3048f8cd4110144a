// The host context and the control functions that reach the host as a whole.
#include "hostcontext.h"

#include "camerastate.h"
#include "classregistry.h"
#include "diagnosticlog.h"
#include "documentstore.h"
#include "guistate.h"
#include "hostsettings.h"
#include "layoutmanager.h"
#include "macrolayer.h"
#include "messageboxes.h"
#include "namedreferences.h"
#include "savefiledialogs.h"
#include "searchpath.h"
#include "simulatedcamera.h"
#include "translations.h"
#include "zthost/zthost.h"

HostContext& HostContext::Instance() {
    // Never destroyed: plug-in objects released at exit may still reach the managers.
    static HostContext* const context = new HostContext;
    return *context;
}

IZtStimulationDeviceManager* CZtStimulationDeviceManager::GetInstance() {
    return HostContext::Instance().GetStimulationDeviceManager();
}

namespace zthost {

IZtHostContext* HostContext() {
    return &::HostContext::Instance();
}

IZtPluginManager* PluginManager() {
    return ::HostContext::Instance().GetPluginManager();
}

int SetActiveStimulationDevice(const std::wstring& uniqueName) {
    return ::HostContext::Instance().StimulationDevices().SetActive(uniqueName);
}

int StimulationDeviceUpdateCount() {
    return ::HostContext::Instance().StimulationDevices().UpdateCount();
}

void ResetForTests() {
    ::HostContext::Instance().StimulationDevices().Clear();
    ::HostContext::Instance().Plugins().Clear();
    ::HostContext::Instance().Devices().Clear();
    ::HostContext::Instance().Grabber().Clear();
    MacroLayer::Instance().Reset();
    LayoutManager::Instance().Clear();
    GuiState::Instance().Clear();
    DocumentStore::Instance().Clear();
    CameraState::Instance().Clear();
    HostSettings::Instance().Clear();
    SimulatedCamera::Instance().Clear();
    ClassRegistry::Instance().Clear();
    MessageBoxes::Instance().Clear();
    MessageBoxes::Instance().SetGuiShown(false);
    SaveFileDialogs::Instance().Clear();
    Translations::Instance().Clear();
    NamedReferences::Instance().Clear();
    SearchPath::Instance().SetFolders(SearchPath::DefaultFolders());
    DiagnosticLog::Instance().SetDetail(false);
    DiagnosticLog::Instance().ClearCaptured();
    SetAvx512Allowed(true);
    SetAvx2Allowed(true);
}

}  // namespace zthost
