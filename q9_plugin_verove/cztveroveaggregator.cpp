// Several Verove devices of one module presented to the host as one stimulation device.
#include "cztveroveaggregator.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <cwctype>

#include "cztasynccall.h"
#include "cztref.h"
#include "verove_log.h"

namespace {

constexpr std::uint32_t kNoCapability = 14;
constexpr int kIgnoredPropagation = 4;
constexpr ZT_DWORD kShortestTimedWaitMs = 100;

bool ContainsSim(const wchar_t* text) {
    std::wstring lower = text ? text : L"";
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](wchar_t c) { return static_cast<wchar_t>(std::towlower(c)); });
    return lower.find(L"sim") != std::wstring::npos;
}

CZtRef<IZtStimulationDeviceEx> ExtensionOf(IZtInterface* device) {
    return CZtRef<IZtStimulationDeviceEx>::Adopt(
        static_cast<IZtStimulationDeviceEx*>(device->QueryInterface("IZtStimulationDeviceEx")));
}

std::uint64_t RoiGroups(const CZtRoiObjectList& areas) {
    std::uint64_t groups = 0;
    for (const CZtRoiObject& area : areas) {
        if (area.GetStimulationGroup() < 64) {
            groups |= std::uint64_t{1} << area.GetStimulationGroup();
        }
    }
    return groups;
}

}  // namespace

ZT_DWORD CZtVeroveAggregator::BeginWaitMs(const SZtStimulationRequest& request) {
    if (request.runMode == 2) {
        const double twice = 2.0 * std::round(request.durationMs);
        return static_cast<ZT_DWORD>(std::clamp(twice, double{kShortestTimedWaitMs}, 3.6e6));
    }
    return request.runMode == 1 ? kBeginWaitMs : 0;
}

CZtVeroveAggregator::CZtVeroveAggregator() : m_enumCursor(m_devices.end()) {}

CZtVeroveAggregator::~CZtVeroveAggregator() {
    ReleaseDevices();
}

void* CZtVeroveAggregator::QueryInterface(const char* interfaceName) {
    if (!interfaceName) {
        return nullptr;
    }
    if (std::strcmp(interfaceName, "IZtStimulationDevice") == 0) {
        AddRef();
        return static_cast<IZtStimulationDevice*>(this);
    }
    if (std::strcmp(interfaceName, "IZtStimulationDeviceAggregator") == 0) {
        AddRef();
        return static_cast<IZtStimulationDeviceAggregator*>(this);
    }
    return nullptr;
}

// ---- Life cycle -------------------------------------------------------------------------------

int CZtVeroveAggregator::Initialize(IZtStimulationDeviceManager* manager,
                                    const wchar_t* deviceClassName) {
    m_uniqueName =
        ContainsSim(deviceClassName) ? L"CZtVeroveAggregatorSim" : L"CZtVeroveAggregator";
    ReleaseDevices();
    m_deviceClassPrefix = deviceClassName;
    const int found = CollectDevices(manager);
    if (found != 0) {
        return found;
    }
    DefaultAssignment();
    // The stored assignment is read only on request (LoadFromFile): a stale file must not
    // silently move groups between devices when one has been exchanged.
    return -9;
}

int CZtVeroveAggregator::CollectDevices(IZtStimulationDeviceManager* manager) {
    const std::wstring& prefix = m_deviceClassPrefix.Str();
    const int count = manager ? manager->GetDeviceCount() : 0;
    for (int i = 0; i < count; ++i) {
        SZtStimulationDeviceRecord info;
        if (manager->GetDeviceInfo(i, &info) != 0) {
            continue;
        }
        const std::wstring& name = info.uniqueName.Str();
        if (name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0 ||
            name[prefix.size()] != L'_') {
            continue;
        }
        IZtStimulationDevice* device = manager->GetStaticDevice(name.c_str());
        if (!device) {
            continue;
        }
        device->AddRef();
        const auto [entry, inserted] = m_devices.emplace(device, ZtGroupAssignment{});
        if (!inserted) {
            device->Release();
        }
        entry->second.clear();
        if (const auto extension = ExtensionOf(device)) {
            extension->SetControllingAggregator(static_cast<IZtStimulationDeviceAggregator*>(this));
        }
    }
    m_enumCursor = m_devices.end();
    return m_devices.empty() ? -13 : 0;
}

void CZtVeroveAggregator::DefaultAssignment() {
    std::vector<std::int32_t> numbers;
    for (const auto& [device, groups] : m_devices) {
        numbers.push_back(CZtAggregatorGroups::DeviceNumber(device->GetUniqueName()));
    }
    const std::vector<ZtGroupAssignment> assignment =
        CZtAggregatorGroups::DefaultAssignment(numbers);
    std::size_t i = 0;
    for (auto& [device, groups] : m_devices) {
        groups = assignment[i++];
    }
}

int CZtVeroveAggregator::ReleaseDevices() {
    SaveToFile();
    for (auto& [device, groups] : m_devices) {
        if (const auto extension = ExtensionOf(device)) {
            extension->SetControllingAggregator(nullptr);
        }
        device->Release();
    }
    m_devices.clear();
    m_enumCursor = m_devices.end();
    return 0;
}

// ---- Assignment storage -----------------------------------------------------------------------

CZtStringW CZtVeroveAggregator::SettingsFileName() const {
    return ContainsSim(m_deviceClassPrefix) ? L"VeroveSim.bin" : L"Verove.bin";
}

int CZtVeroveAggregator::SaveToFile() {
    if (m_devices.size() < 2) {
        return 0;
    }
    std::vector<ZtDeviceAssignment> entries;
    for (const auto& [device, groups] : m_devices) {
        entries.emplace_back(device->GetUniqueName(), groups);
    }
    return CZtAggregatorAssignmentFile::Save(SettingsFileName(), entries);
}

int CZtVeroveAggregator::LoadFromFile() {
    if (m_devices.size() < 2) {
        return -13;
    }
    std::vector<ZtDeviceAssignment> entries;
    for (const auto& [device, groups] : m_devices) {
        entries.emplace_back(device->GetUniqueName(), groups);
    }
    const int result = CZtAggregatorAssignmentFile::Load(SettingsFileName(), &entries);
    if (result == 0) {
        std::size_t i = 0;
        for (auto& [device, groups] : m_devices) {
            groups = entries[i++].second;
        }
    }
    return result;
}

// ---- Device look-ups --------------------------------------------------------------------------

IZtStimulationDevice* CZtVeroveAggregator::DeviceAt(int index) {
    if (index < 0 || index >= GetDeviceCount()) {
        return nullptr;
    }
    return std::next(m_devices.begin(), index)->first;
}

IZtStimulationDevice* CZtVeroveAggregator::GetDeviceForGroup(std::int32_t group) {
    for (const auto& [device, groups] : m_devices) {
        if (groups.count(group)) {
            return device;
        }
    }
    return nullptr;
}

int CZtVeroveAggregator::GetDeviceIndexForGroup(std::int32_t group) {
    int index = 0;
    for (const auto& [device, groups] : m_devices) {
        if (groups.count(group)) {
            return index;
        }
        ++index;
    }
    return 0;
}

CZtStringW CZtVeroveAggregator::GetDeviceName(int index) {
    CZtStringW name;
    if (IZtStimulationDevice* device = DeviceAt(index)) {
        device->GetDisplayName(&name, 0);
    }
    return name;
}

bool CZtVeroveAggregator::DeviceGroupMask(IZtStimulationDevice* device, std::uint64_t* mask) {
    *mask = 0;
    return device->StimulationAreaGet(nullptr, nullptr, nullptr, nullptr, nullptr, mask) == 0;
}

std::vector<std::uint64_t> CZtVeroveAggregator::AssignedMasks() const {
    std::vector<std::uint64_t> masks;
    for (const auto& [device, groups] : m_devices) {
        masks.push_back(CZtAggregatorGroups::GroupMask(groups));
    }
    return masks;
}

int CZtVeroveAggregator::GetNextDevice(IZtInterface* previous, IZtStimulationDeviceEx** out) {
    if (!out) {
        return -4;
    }
    if (!previous) {
        m_enumCursor = m_devices.begin();
    } else {
        const auto device = CZtRef<IZtStimulationDevice>::Adopt(
            static_cast<IZtStimulationDevice*>(previous->QueryInterface("IZtStimulationDevice")));
        if (!device) {
            return -9;
        }
        m_enumCursor = m_devices.find(device.get());
        if (m_enumCursor != m_devices.end()) {
            ++m_enumCursor;
        }
    }
    if (m_enumCursor == m_devices.end()) {
        return -13;
    }
    // The caller's reference.
    *out = static_cast<IZtStimulationDeviceEx*>(
        m_enumCursor->first->QueryInterface("IZtStimulationDeviceEx"));
    return *out ? 0 : -9;
}

// ---- IZtStimulationDevice ---------------------------------------------------------------------

int CZtVeroveAggregator::SetActive(bool active) {
    m_active = active;
    return 0;
}

bool CZtVeroveAggregator::HasCapability(std::uint32_t code) {
    return code != kNoCapability &&
           std::all_of(m_devices.begin(), m_devices.end(),
                       [code](const auto& entry) { return entry.first->HasCapability(code); });
}

bool CZtVeroveAggregator::HasCapabilityNow(std::uint32_t code) {
    return std::all_of(m_devices.begin(), m_devices.end(),
                       [code](const auto& entry) { return entry.first->HasCapabilityNow(code); });
}

int CZtVeroveAggregator::GetDisplayName(CZtStringW* name, int kind) {
    if (!name) {
        return -4;
    }
    *name = kind == 0 ? m_displayName : CZtStringW();
    return 0;
}

int CZtVeroveAggregator::GetDisplayName(CZtStringW* name) {
    return GetDisplayName(name, 0);
}

int CZtVeroveAggregator::StimulationAreaGetCount() {
    int count = 0;
    for (const auto& [device, groups] : m_devices) {
        count += device->StimulationAreaGetCount();
    }
    return count;
}

int CZtVeroveAggregator::StimulationAreaSet(const CZtRoiObjectList* areas,
                                            const SZtRLEPicBuf* masks,
                                            const SZtScanAreaDesc* scanArea,
                                            const SZtGrabberFormatDesc* format,
                                            const SZtRect* cameraRect) {
    const char* function = "CZtVeroveAggregator::StimulationAreaSet";
    VEROVE_LOG(function, L"ROI content of aggregator:");
    VEROVE_LOG(function, L"ROI content of each aggregated device:");
    const CZtRoiObjectList noAreas;
    const SZtRLEPicBuf noMasks;
    const CZtRoiObjectList& incoming = areas ? *areas : noAreas;
    const SZtRLEPicBuf& incomingMasks = masks ? *masks : noMasks;
    for (const auto& [device, groups] : m_devices) {
        SZtRLEPicBuf share;
        CZtRLEPicBufAPI::Alloc(&share, incomingMasks.width, incomingMasks.height,
                               incomingMasks.bitsPerComponent);
        CZtRoiObjectList shareAreas;
        for (const CZtRoiObject& area : incoming) {
            if (!groups.count(static_cast<std::int32_t>(area.GetStimulationGroup()))) {
                continue;
            }
            for (const SZtRLEObject& object : incomingMasks.objects) {
                if (object.id == area.GetId()) {
                    share.objects.push_back(object);
                }
            }
            shareAreas.Add(area);
        }
        CZtRoiObjectList current;
        SZtRLEPicBuf currentMasks;
        device->StimulationAreaGet(&current, &currentMasks, nullptr, nullptr, nullptr, nullptr);
        currentMasks.bitsPerComponent = share.bitsPerComponent;
        // Unchanged devices keep their rendered patterns; a device without areas stays
        // without, whatever frame its empty masks have.
        const bool changed =
            current.GetCount() != shareAreas.GetCount() ||
            (shareAreas.GetCount() > 0 && !CZtRLEPicBufAPI::IsEqual(&currentMasks, &share));
        if (!changed) {
            continue;
        }
        if (const auto extension = ExtensionOf(device)) {
            extension->StimulationAreaSetFor(static_cast<IZtStimulationDeviceAggregator*>(this),
                                             &shareAreas, &share, scanArea, format, cameraRect);
        }
    }
    m_areas = incoming;
    m_areaMask = incomingMasks;
    if (scanArea) {
        m_scanArea = *scanArea;
    }
    if (format) {
        m_grabberFormat = *format;
    }
    if (cameraRect) {
        m_areaRect = *cameraRect;
    }
    return 0;
}

int CZtVeroveAggregator::StimulationAreaGet(CZtRoiObjectList* areas, SZtRLEPicBuf* masks,
                                            SZtScanAreaDesc* scanArea, SZtGrabberFormatDesc* format,
                                            SZtRect* cameraRect, std::uint64_t* groupMask) {
    if (areas) {
        *areas = m_areas;
    }
    if (masks) {
        *masks = m_areaMask;
    }
    if (scanArea) {
        *scanArea = m_scanArea;
    }
    if (format) {
        *format = m_grabberFormat;
    }
    if (cameraRect) {
        *cameraRect = m_areaRect;
    }
    if (groupMask) {
        for (const auto& [device, groups] : m_devices) {
            std::uint64_t own = 0;
            if (DeviceGroupMask(device, &own)) {
                *groupMask |= own;
            }
        }
    }
    return 0;
}

int CZtVeroveAggregator::StimulationAreaUpload() {
    std::vector<CZtAsyncCall*> calls;
    for (const auto& [device, groups] : m_devices) {
        std::uint64_t own = 0;
        if (!DeviceGroupMask(device, &own) || own == 0 ||
            (m_hasGroupFilter && (own & m_groupFilter) == 0)) {
            continue;
        }
        calls.push_back(StartFor(device, [this, device = device] { UploadDeviceAsync(device); }));
    }
    for (std::size_t i = 0; i < calls.size(); ++i) {
        if (calls[i] && !calls[i]->WaitAndRelease(kUploadWaitMs)) {
            VEROVE_LOG("CZtVeroveAggregator::StimulationAreaUpload",
                       L"Timeout uploading device index %i.", static_cast<int>(i));
        }
    }
    return 0;
}

CZtAsyncCall* CZtVeroveAggregator::StartFor(IZtStimulationDevice* device,
                                            std::function<void()> procedure) {
    // A call whose wait runs out goes on: it keeps the aggregator and its device alive.
    AddRef();
    device->AddRef();
    CZtAsyncCall* call = CZtAsyncCall::Start([this, device, procedure = std::move(procedure)] {
        procedure();
        device->Release();
        Release();
    });
    if (!call) {
        device->Release();
        Release();
    }
    return call;
}

void CZtVeroveAggregator::UploadDeviceAsync(IZtStimulationDevice* device) {
    device->StimulationAreaUpload();
}

bool CZtVeroveAggregator::StimulationAreaIsUpToDate() {
    for (const auto& [device, groups] : m_devices) {
        std::uint64_t own = 0;
        if (m_hasGroupFilter && DeviceGroupMask(device, &own) && (own & m_groupFilter) == 0) {
            continue;
        }
        if (!device->StimulationAreaIsUpToDate()) {
            return false;
        }
    }
    return true;
}

bool CZtVeroveAggregator::StimulationIsReady() {
    return std::any_of(m_devices.begin(), m_devices.end(),
                       [](const auto& entry) { return entry.first->StimulationIsReady(); });
}

int CZtVeroveAggregator::StimulationBegin(const SZtStimulationRequest* request) {
    const char* function = "CZtVeroveAggregator::StimulationBegin";
    if (!request) {
        return -4;
    }
    if (request->runMode == 2 && std::fabs(request->durationMs) <= 0.001) {
        VEROVE_LOG(function, L"Invalid stimulation phase duration %f [ms].", request->durationMs);
        return -4;
    }
    std::vector<CZtAsyncCall*> calls;
    for (const auto& [device, groups] : m_devices) {
        const std::uint64_t shared = CZtAggregatorGroups::GroupMask(groups) & request->groupMask;
        if (shared == 0) {
            continue;
        }
        SZtStimulationRequest narrowed = *request;
        narrowed.groupMask = shared;
        calls.push_back(StartFor(device, [this, device = device, narrowed] {
            StimulationBeginAsync(device, narrowed);
        }));
    }
    const bool wait = request->runMode == 1 || request->runMode == 2;
    const ZT_DWORD waitMs = BeginWaitMs(*request);
    for (std::size_t i = 0; i < calls.size(); ++i) {
        if (calls[i] && !calls[i]->WaitAndRelease(waitMs) && wait) {
            VEROVE_LOG(function, L"Timeout while waiting on device %i.", static_cast<int>(i));
        }
    }
    return 0;
}

void CZtVeroveAggregator::StimulationBeginAsync(IZtStimulationDevice* device,
                                                SZtStimulationRequest request) {
    const char* function = "CZtVeroveAggregator::StimulationBeginAsync";
    const unsigned thread = VeroveThreadId();
    VEROVE_LOG(function, L"Windows Threadpool thread (%#x) procedure has started.", thread);
    {
        CZtLock lock(m_lock);
        CZtRoiObjectList areas;
        if (device->StimulationAreaGet(&areas, nullptr, nullptr, nullptr, nullptr, nullptr) != 0) {
            VEROVE_LOG(function, L"Failed to call StimulationAreaGet on device %s, thread (%i)",
                       device->GetUniqueName().GetString(), static_cast<int>(thread));
        }
        if ((request.groupMask & RoiGroups(areas)) != 0) {
            const int result = device->StimulationBegin(&request);
            if (result != 0) {
                VEROVE_LOG(function,
                           L"StimulationBegin failed on device %s, thread (%i), error %d.",
                           device->GetUniqueName().GetString(), static_cast<int>(thread), result);
            }
        } else {
            VEROVE_LOG(function,
                       L"Canceled call to StimulationBegin on device %s, thread (%i). There would "
                       L"be nothing to stimulate.",
                       device->GetUniqueName().GetString(), static_cast<int>(thread));
        }
    }
    VEROVE_LOG(function, L"Windows Threadpool thread (%#x) procedure has finished.", thread);
}

int CZtVeroveAggregator::StimulationEnd(double* startTimes, double* endTimes, int count) {
    std::vector<CZtAsyncCall*> calls;
    for (const auto& [device, groups] : m_devices) {
        calls.push_back(StartFor(device, [this, device = device] { StimulationEndAsync(device); }));
    }
    for (CZtAsyncCall* call : calls) {
        if (call) {
            call->WaitAndRelease(kEndWaitMs);
        }
    }
    // The devices keep their own times; the aggregator has none of its own to report.
    for (int i = 0; i < count; ++i) {
        if (startTimes) {
            startTimes[i] = -1.0;
        }
        if (endTimes) {
            endTimes[i] = -1.0;
        }
    }
    return 0;
}

void CZtVeroveAggregator::StimulationEndAsync(IZtStimulationDevice* device) {
    const char* function = "CZtVeroveAggregator::StimulationEndAsync";
    if (!device) {
        VEROVE_LOG(function, L"Error, nullptr.");
        return;
    }
    double start[1] = {0.0};
    double end[1] = {0.0};
    if (device->StimulationEnd(start, end, 1) != 0) {
        VEROVE_LOG(function, L"Async call to StimulationEnd of %s failed.",
                   device->GetUniqueName().GetString());
    }
}

int CZtVeroveAggregator::StimulationEndMask(std::uint64_t groupMask) {
    CZtLock lock(m_lock);
    int result = 0;
    for (const auto& [device, groups] : m_devices) {
        std::uint64_t own = 0;
        DeviceGroupMask(device, &own);
        if ((own & groupMask) == 0) {
            continue;
        }
        const int status = device->StimulationEnd(nullptr, nullptr, 0);
        if (status != 0) {
            VEROVE_LOG("CZtVeroveAggregator::StimulationEndMask",
                       L"Failed to StimulationEnd of device %s.",
                       device->GetUniqueName().GetString());
        }
        result |= status;
    }
    return result;
}

template <class Call>
int CZtVeroveAggregator::OneAfterAnother(const char* function, const char* name, Call call) {
    for (const auto& [device, groups] : m_devices) {
        const int result = call(device);
        if (result != 0) {
            VEROVE_LOG(function, L"Failed to call %hs on device %s.", name,
                       device->GetUniqueName().GetString());
            return result;
        }
    }
    return 0;
}

int CZtVeroveAggregator::StimulationFire(double* startTime, double* endTime) {
    return OneAfterAnother(
        "CZtVeroveAggregator::StimulationFire", "StimulationFire",
        [&](IZtStimulationDevice* device) { return device->StimulationFire(startTime, endTime); });
}

int CZtVeroveAggregator::StimulationAbort() {
    return OneAfterAnother("CZtVeroveAggregator::StimulationAbort", "StimulationAbort",
                           [](IZtStimulationDevice* device) { return device->StimulationAbort(); });
}

int CZtVeroveAggregator::StimulationROIPrepare() {
    return StimulationROIPrepareFor(0xFFFFFFFFu);
}

int CZtVeroveAggregator::StimulationROIPrepareFor(std::uint32_t groupMask) {
    const char* function = "CZtVeroveAggregator::StimulationROIPrepare";
    int result = 0;
    for (const auto& [device, groups] : m_devices) {
        const auto shared =
            static_cast<std::uint32_t>(CZtAggregatorGroups::GroupMask(groups)) & groupMask;
        if (shared == 0) {
            continue;
        }
        const CZtStringW name = device->GetUniqueName();
        VEROVE_LOG(function, L"Calling StimulationROIPrepare on device %s, ROI mask %#x",
                   name.GetString(), shared);
        const int status = device->StimulationROIPrepare();
        if (status != 0) {
            VEROVE_LOG(function, L"Failed to call StimulationROIPrepare on device %s",
                       name.GetString());
            result = status;
        }
    }
    return result;
}

int CZtVeroveAggregator::StimulationValidate(const SZtExperiment* experiment, CZtStringW* error) {
    if (!experiment || !error) {
        return -4;
    }
    bool failed = false;
    for (const auto& [device, groups] : m_devices) {
        SZtExperiment restricted = *experiment;
        CZtAggregatorGroups::RestrictToDevice(&restricted, CZtAggregatorGroups::GroupMask(groups));
        CZtStringW text;
        if (device->StimulationValidate(&restricted, &text) != 0) {
            error->AppendFormat(L"\n%s", text.GetString());
            failed = true;
        }
    }
    if (failed) {
        return -9;
    }
    const CZtStringW conflict = CZtAggregatorGroups::FindConflict(*experiment, AssignedMasks());
    if (!conflict.IsEmpty()) {
        *error = conflict;
        return -9;
    }
    return 0;
}

// ---- IZtStimulationDeviceAggregator -----------------------------------------------------------

int CZtVeroveAggregator::PropagateSettings(IZtInterface* sender, int reason) {
    if (reason == kIgnoredPropagation) {
        return 0;
    }
    for (const auto& [device, groups] : m_devices) {
        const auto extension = ExtensionOf(device);
        if (!extension) {
            continue;
        }
        if (static_cast<IZtInterface*>(extension.get()) != sender) {
            extension->TakeOverBitDepth(sender);
        }
    }
    return 0;
}

int CZtVeroveAggregator::SetGroupFilter(std::uint64_t groupMask) {
    m_groupFilter = groupMask;
    m_hasGroupFilter = true;
    return 0;
}

int CZtVeroveAggregator::ClearGroupFilter() {
    m_hasGroupFilter = false;
    return 0;
}

// ---- IZtLaserPowerControl ---------------------------------------------------------------------

IZtLaserPowerControl* CZtVeroveAggregator::LineControl() {
    IZtStimulationDevice* device = DeviceAt(0);
    return device ? device->GetLaserPowerControl() : nullptr;
}

IZtLaserPowerControl* CZtVeroveAggregator::GroupControl(int group) {
    IZtStimulationDevice* device = GetDeviceForGroup(group);
    return device ? device->GetLaserPowerControl() : nullptr;
}

int CZtVeroveAggregator::GetLineCount() {
    IZtLaserPowerControl* control = LineControl();
    return control ? control->GetLineCount() : 0;
}

int CZtVeroveAggregator::GetGroupCount() {
    IZtLaserPowerControl* control = GroupControl(0);
    return control ? control->GetGroupCount() : 0;
}

CZtStringW CZtVeroveAggregator::GetGroupName(int group) {
    IZtLaserPowerControl* control = GroupControl(group);
    return control ? control->GetGroupName(group) : CZtStringW();
}

CZtStringW CZtVeroveAggregator::GetLineName(int line) {
    IZtLaserPowerControl* control = LineControl();
    return control ? control->GetLineName(line) : CZtStringW();
}

double CZtVeroveAggregator::GetLineWavelength(int line) {
    IZtLaserPowerControl* control = LineControl();
    return control ? control->GetLineWavelength(line) : 0.0;
}

double CZtVeroveAggregator::GetLinePower(int line, int group) {
    IZtLaserPowerControl* control = GroupControl(group);
    return control ? control->GetLinePower(line, group) : 0.0;
}

bool CZtVeroveAggregator::GetLineVisible(int line) {
    IZtLaserPowerControl* control = LineControl();
    return control && control->GetLineVisible(line);
}

bool CZtVeroveAggregator::GetLineUsed(int line, int group) {
    IZtLaserPowerControl* control = GroupControl(group);
    return control && control->GetLineUsed(line, group);
}

void CZtVeroveAggregator::SetLinePower(int line, int group, double power) {
    if (IZtLaserPowerControl* control = GroupControl(group)) {
        control->SetLinePower(line, group, power);
    }
}

int CZtVeroveAggregator::SetLineUsed(int line, int group, bool used) {
    IZtLaserPowerControl* control = GroupControl(group);
    return control ? control->SetLineUsed(line, group, used) : -9;
}

int CZtVeroveAggregator::SetLineFlag(int line, int group, bool flag) {
    IZtLaserPowerControl* control = GroupControl(group);
    return control ? control->SetLineFlag(line, group, flag) : -9;
}
