// Several Verove devices of one module presented to the host as one stimulation device.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "cztaggregatorassignmentfile.h"
#include "iztstimulationdeviceaggregator.h"
#include "iztveroveaggregator.h"
#include "zt/zt_class.h"
#include "zt/zt_grabber.h"
#include "zt/zt_laserpower.h"
#include "zt/zt_picbuf.h"
#include "zt/zt_roi.h"
#include "zt/zt_stimulation.h"
#include "zt/zt_sync.h"

class CZtAsyncCall;
class IZtStimulationDeviceEx;

// The host's calls come on its threads; discovery, Initialize and ReleaseDevices must not overlap
// stimulation calls (the device map is not locked). Upload, begin and end run their per-device
// work on the host's thread pool and block the caller until each call finishes or its wait runs
// out; the begin and end procedures and StimulationEndMask take m_lock, so devices begin and end
// one at a time.
//
// Each stimulation group S1-S3 belongs to at most one device; every stimulation ROI goes to the
// device that owns its group.
class CZtVeroveAggregator : public IZtStimulationDevice,
                            public IZtLaserPowerControl,
                            public virtual CZtClass,
                            public IZtVeroveAggregator,
                            public IZtStimulationDeviceAggregator {
public:
    // Waits a begin allows per device without a duration of its own.
    static constexpr ZT_DWORD kBeginWaitMs = 1000;
    static constexpr ZT_DWORD kUploadWaitMs = 27800;
    static constexpr ZT_DWORD kEndWaitMs = 10000;

    CZtVeroveAggregator();

    // How long a begin waits for each device: kind 2 (timed) twice its duration rounded to
    // whole milliseconds, at least 100 ms; kind 1 kBeginWaitMs; any other kind not at all.
    static ZT_DWORD BeginWaitMs(const SZtStimulationRequest& request);

    // "IZtStimulationDevice" and "IZtStimulationDeviceAggregator"; every other name null.
    void* QueryInterface(const char* interfaceName) override;

    // ---- IZtStimulationDevice ----
    CZtStringW GetUniqueName() override { return m_uniqueName; }
    bool IsConnected() override { return true; }
    bool IsVisible() override { return true; }
    int SetActive(bool active) override;
    bool HasCapability(std::uint32_t code) override;
    bool HasCapabilityNow(std::uint32_t code) override;
    int GetDisplayName(CZtStringW* name, int kind) override;
    int Reserved07() override { return 0; }
    double Reserved08() override { return 0.0; }
    int Reserved09() override { return 0; }
    double Reserved10() override { return 0.0; }
    int Reserved11() override { return 4; }
    int StimulationAreaGetCount() override;
    int StimulationAreaSet(const CZtRoiObjectList* areas, const SZtRLEPicBuf* masks,
                           const SZtScanAreaDesc* scanArea, const SZtGrabberFormatDesc* format,
                           const SZtRect* cameraRect) override;
    int StimulationAreaGet(CZtRoiObjectList* areas, SZtRLEPicBuf* masks, SZtScanAreaDesc* scanArea,
                           SZtGrabberFormatDesc* format, SZtRect* cameraRect,
                           std::uint64_t* groupMask) override;
    int StimulationAreaAppendAsPattern() override { return -2; }
    int StimulationAreaUpload() override;
    bool StimulationAreaIsUpToDate() override;
    int StimulationReady() override { return 0; }
    bool StimulationIsReady() override;
    int StimulationBegin(const SZtStimulationRequest* request) override;
    int StimulationEnd(double* startTimes, double* endTimes, int count) override;
    int StimulationFire(double* startTime, double* endTime) override;
    int StimulationAbort() override;
    // Every group: the devices prepare the ROIs of all their groups.
    int StimulationROIPrepare() override;
    int StimulationValidate(const SZtExperiment* experiment, CZtStringW* error) override;
    IZtLaserPowerControl* GetLaserPowerControl() override { return this; }

    // ---- IZtLaserPowerControl: line questions go to the first device, group ones to the
    // group's device ----
    int GetLineCount() override;
    int GetGroupCount() override;
    CZtStringW GetGroupName(int group) override;
    CZtStringW GetLineName(int line) override;
    double GetLineWavelength(int line) override;
    double GetLinePower(int line, int group) override;
    bool GetLineVisible(int line) override;
    bool GetLineUsed(int line, int group) override;
    void SetLinePower(int line, int group, double power) override;
    int SetLineUsed(int line, int group, bool used) override;
    int LaserPowerReserved10() override { return 0; }
    int LaserPowerReserved11() override { return 0; }
    CZtStringW LaserPowerReserved12() override { return {}; }
    int LaserPowerReserved13() override { return 0; }
    int SetLineFlag(int line, int group, bool flag) override;

    // ---- IZtVeroveAggregator ----
    ZtAggregatedDevices* GetDevices() override { return &m_devices; }
    int GetDisplayName(CZtStringW* name) override;

    // ---- IZtStimulationDeviceAggregator ----
    // The devices of the manager named deviceClassName + "_" + number, with the default
    // assignment: -13 when there is none; -9 after a successful discovery, since the stored
    // assignment is not read at this point (LoadFromFile reads it).
    int Initialize(IZtStimulationDeviceManager* manager, const wchar_t* deviceClassName) override;
    // Saves the assignment, then detaches and lets go of every device.
    int ReleaseDevices() override;
    int PropagateSettings(IZtInterface* sender, int reason) override;
    int StimulationEndMask(std::uint64_t groupMask) override;
    int SetGroupFilter(std::uint64_t groupMask) override;
    int ClearGroupFilter() override;
    void AggregatorReserved6() override {}

    // ---- The aggregator's own operations ----
    // Enumeration: the device after previous (null: the first) as its extension, with a counted
    // reference. -4 for a null out, -9 for a previous without the device interface or a device
    // without the extension, -13 at the end.
    int GetNextDevice(IZtInterface* previous, IZtStimulationDeviceEx** out);
    int CollectDevices(IZtStimulationDeviceManager* manager);
    // The ROIs of the groups in groupMask: each device prepares when it owns one of them; the
    // last failing device's code.
    int StimulationROIPrepareFor(std::uint32_t groupMask);
    // The first device (map order) owning group, or null. Borrowed.
    IZtStimulationDevice* GetDeviceForGroup(std::int32_t group);
    int GetDeviceCount() const { return static_cast<int>(m_devices.size()); }
    // The display name of device i, empty outside the devices.
    CZtStringW GetDeviceName(int index);
    // The map position of the first device owning group; 0 when none does.
    int GetDeviceIndexForGroup(std::int32_t group);
    int SelectDevice(int, int) { return -9; }
    // Reads the assignment stored in the first device's settings file: -13 with fewer than two
    // devices; otherwise the file's status (a failure leaves the assignment as it was).
    int LoadFromFile();
    // Writes the assignment when there are at least two devices: the host's save status, 0 when
    // there is nothing to write.
    int SaveToFile();

private:
    ~CZtVeroveAggregator() override;

    // The device's own group mask from its StimulationAreaGet; false when that fails.
    static bool DeviceGroupMask(IZtStimulationDevice* device, std::uint64_t* mask);
    // Device i of the map, or null.
    IZtStimulationDevice* DeviceAt(int index);
    IZtLaserPowerControl* LineControl();
    IZtLaserPowerControl* GroupControl(int group);
    std::vector<std::uint64_t> AssignedMasks() const;
    CZtStringW SettingsFileName() const;
    void DefaultAssignment();
    // The brand's device name and the devices' numbers: "Verove (1 + 2)".
    CZtStringW ComposeDisplayName();
    // Runs procedure for device on the host's thread pool; null when the pool refused it.
    CZtAsyncCall* StartFor(IZtStimulationDevice* device, std::function<void()> procedure);
    // The devices' calls that the pool runs.
    void StimulationBeginAsync(IZtStimulationDevice* device, SZtStimulationRequest request);
    void UploadDeviceAsync(IZtStimulationDevice* device);
    void StimulationEndAsync(IZtStimulationDevice* device);
    // Stops at the first device whose call fails; its code, 0 when all succeed.
    template <class Call>
    int OneAfterAnother(const char* function, const char* name, Call call);

    CZtStringW m_deviceClassPrefix;
    CZtStringW m_displayName;
    CZtStringW m_uniqueName;
    ZtAggregatedDevices m_devices;
    CZtRoiObjectList m_areas;
    SZtRLEPicBuf m_areaMask;
    SZtScanAreaDesc m_scanArea{};
    SZtGrabberFormatDesc m_grabberFormat{};
    SZtRect m_areaRect{};
    ZtAggregatedDevices::iterator m_enumCursor;
    bool m_active = false;
    std::uint64_t m_groupFilter = 0;
    bool m_hasGroupFilter = false;
    CZtCriticalSection m_lock;
};
