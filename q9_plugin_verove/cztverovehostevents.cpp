// The host's events reaching the device.
#include "cztverovehostevents.h"

#include <algorithm>

#include "cztstimulationdeviceverove.h"
#include "cztveroveconfig.h"
#include "cztverovepadqt.h"
#include "cztverovepadwrapper.h"
#include "verove_log.h"
#include "verovestatus.h"
#include "zt/zt_devices.h"

namespace {

// Logical-device types whose change concerns the device, and those that change the optical
// configuration the calibration depends on.
constexpr int kRelevantTypes[] = {1, 6, 7, 10, 11, 13, 15, 16, 17, 18, 19, 21, 23, 24, 30, 43, 45};
constexpr int kConfigurationTypes[] = {7, 10, 11, 13, 15, 16, 18};

template <size_t N>
bool Contains(const int (&list)[N], int value) {
    return std::find(std::begin(list), std::end(list), value) != std::end(list);
}

}  // namespace

int CZtVeroveHostEvents::HandleDMRefresh() {
    const int result = m_device.CheckConfigurationDataAndUpdateCalibration(nullptr);
    if (m_device.m_padWrapper) {
        m_device.m_padWrapper->DMRefresh();
    }
    VEROVE_LOG("CZtStimulationDeviceVerove::HandleDMRefresh", L"End - return code %d", result);
    return result;
}

// The calibration tree of the configuration dialog is rebuilt with the dialog.
int CZtVeroveHostEvents::HandleDMRefreshDelayed() {
    m_device.m_lightPath->RebuildCandidates();
    m_device.m_lightPath->ResolveAssociation();
    m_device.RefreshPad();
    if (m_device.m_configDialog) {
        m_device.m_configDialog->OnDeviceChanged();
    }
    VEROVE_LOG("CZtStimulationDeviceVerove::HandleDMRefreshDelayed", L"End, return code %d", 0);
    return 0;
}

int CZtVeroveHostEvents::HandleCameraNewParams(bool selected) {
    const int result = m_device.CheckConfigurationDataAndUpdateCalibration(nullptr);
    if (m_device.m_padWrapper) {
        m_device.m_padWrapper->CameraNewParams();
    }
    VEROVE_LOG("CZtStimulationDeviceVerove::HandleCameraNewParams", L"End, return code %d", result);
    return result;
}

// The camera's new parameters may have changed the calibration state the pad shows.
int CZtVeroveHostEvents::HandleCameraNewParamsDelayed() {
    VEROVE_LOG("CZtStimulationDeviceVerove::HandleCameraNewParamsDelayed", L"Start");
    if (m_device.m_pad) {
        m_device.m_pad->OnUpdateStatusMessage();
    }
    if (m_device.m_configDialog) {
        m_device.m_configDialog->OnDeviceChanged();
    }
    return 0;
}

void CZtVeroveHostEvents::AppendUnique(std::vector<std::uint32_t>* list, const std::uint32_t* ids,
                                       int count) {
    for (int i = 0; ids && i < count; ++i) {
        if (std::find(list->begin(), list->end(), ids[i]) == list->end()) {
            list->push_back(ids[i]);
        }
    }
}

int CZtVeroveHostEvents::HandleDeviceChanged(const std::uint32_t* ids, int count) {
    const char* function = "CZtStimulationDeviceVerove::HandleDeviceChanged";
    VEROVE_LOG(function, L"Start");
    if (m_device.m_sequence.GetOperationMode() ==
        CZtVeroveIlluminationSequence::kOperationModeSequence) {
        m_sequenceDeviceChanges.insert(m_sequenceDeviceChanges.end(), ids, ids + count);
        VEROVE_LOG(function, L"Handling devicechange delayed until Illumination Sequence done.");
        return 0;
    }
    if (!m_startupDone) {
        AppendUnique(&m_startupDeviceChanges, ids, count);
        VEROVE_LOG(function, L"Handling devicechange delayed until startup done.");
        return 0;
    }
    DMApi* devices = m_device.DeviceManager();
    bool relevant = false;
    bool walkedToEnd = true;
    for (int i = 0; devices && ids && i < count; ++i) {
        int type = 0;
        if (devices->LogDev_GetType(ids[i], &type) != 0 || !Contains(kRelevantTypes, type)) {
            continue;
        }
        relevant = true;
        if (Contains(kConfigurationTypes, type)) {
            m_device.CheckConfigurationDataAndUpdateCalibration(nullptr);
        } else if (type == ZT_LOGDEV_LIGHT || type == ZT_LOGDEV_MULTILASER) {
            m_device.m_lightPath->UpdateFromDevice(ids[i], type);
        } else if (type != ZT_LOGDEV_LIGHT && type != ZT_LOGDEV_SHUTTER &&
                   type != ZT_LOGDEV_MULTILASER) {
            // A device of another kind changes the path beyond this list: the pad waits for
            // the refresh that follows.
            walkedToEnd = false;
            break;
        }
    }
    if (walkedToEnd && relevant && m_device.m_padWrapper) {
        m_device.m_padWrapper->DeviceChanged(ids, count);
    }
    VEROVE_LOG(function, L"End");
    return 0;
}

// The immediate handler took the light's new values into the line records; the pad shows them.
int CZtVeroveHostEvents::HandleDeviceChangedDelayed(std::uint32_t id) {
    VEROVE_LOG("CZtStimulationDeviceVerove::HandleDeviceChangedDelayed", L"Start");
    DMApi* devices = m_device.DeviceManager();
    int type = 0;
    if (!m_device.m_pad || !devices || devices->LogDev_GetType(id, &type) != 0 ||
        !Contains(kRelevantTypes, type)) {
        return 0;
    }
    if ((type == ZT_LOGDEV_LIGHT || type == ZT_LOGDEV_MULTILASER) &&
        id == m_device.m_lightPath->GetLightId()) {
        const int count = type == ZT_LOGDEV_LIGHT ? std::min(1, m_device.GetLineCount())
                                                  : m_device.GetLineCount();
        for (int line = 0; line < count; ++line) {
            m_device.m_pad->ShowLine(line);
        }
    } else if (type == ZT_LOGDEV_SHUTTER) {
        const std::vector<ZT_DWORD> chain = m_device.m_lightPath->GetShutterIds();
        if (std::find(chain.begin(), chain.end(), id) != chain.end()) {
            m_device.m_pad->ShowShutterState(m_device.m_lightPath->AreShuttersOpen());
        }
    }
    return 0;
}

void CZtVeroveHostEvents::FinishStartup() {
    m_startupDone = true;
    std::vector<std::uint32_t> deferred;
    deferred.swap(m_startupDeviceChanges);
    if (!deferred.empty()) {
        HandleDeviceChanged(deferred.data(), static_cast<int>(deferred.size()));
    }
}

void CZtVeroveHostEvents::ReplaySequenceDeviceChanges() {
    std::vector<std::uint32_t> deferred;
    deferred.swap(m_sequenceDeviceChanges);
    if (!deferred.empty()) {
        HandleDeviceChanged(deferred.data(), static_cast<int>(deferred.size()));
    }
}
