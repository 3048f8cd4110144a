// Stimulation devices and the host's stimulation-device manager.
#pragma once

#include <cstdint>

#include "zt/zt_class.h"
#include "zt/zt_string.h"

class CZtRoiObjectList;
struct SZtRLEPicBuf;
struct SZtScanAreaDesc;
struct SZtGrabberFormatDesc;
struct SZtRect;
struct SZtExperiment;
class IZtLaserPowerControl;

// A request of the experiment engine to start a stimulation.
struct SZtStimulationRequest {
    std::int32_t runMode = 0;  // 1 timed by the caller, 2 frozen until released
    double durationMs = 0.0;
    std::uint64_t groupMask = 0;  // bit g: stimulation group g
};

// The host's stimulation-device interface (slot order fixed).
class IZtStimulationDevice : public virtual IZtInterface {
public:
    virtual CZtStringW GetUniqueName() = 0;                      // 0
    virtual bool IsConnected() = 0;                              // 1
    virtual bool IsVisible() = 0;                                // 2
    virtual int SetActive(bool active) = 0;                      // 3
    virtual bool HasCapability(std::uint32_t code) = 0;          // 4
    virtual bool HasCapabilityNow(std::uint32_t code) = 0;       // 5
    virtual int GetDisplayName(CZtStringW* name, int kind) = 0;  // 6
    virtual int Reserved07() = 0;                                // 7
    virtual double Reserved08() = 0;                             // 8
    virtual int Reserved09() = 0;                                // 9
    virtual double Reserved10() = 0;                             // 10
    virtual int Reserved11() = 0;                                // 11
    virtual int StimulationAreaGetCount() = 0;                   // 12
    virtual int StimulationAreaSet(const CZtRoiObjectList* areas, const SZtRLEPicBuf* masks,
                                   const SZtScanAreaDesc* scanArea,
                                   const SZtGrabberFormatDesc* format,
                                   const SZtRect* cameraRect) = 0;  // 13
    virtual int StimulationAreaGet(CZtRoiObjectList* areas, SZtRLEPicBuf* masks,
                                   SZtScanAreaDesc* scanArea, SZtGrabberFormatDesc* format,
                                   SZtRect* cameraRect, std::uint64_t* groupMask) = 0;        // 14
    virtual int StimulationAreaAppendAsPattern() = 0;                                         // 15
    virtual int StimulationAreaUpload() = 0;                                                  // 16
    virtual bool StimulationAreaIsUpToDate() = 0;                                             // 17
    virtual int StimulationReady() = 0;                                                       // 18
    virtual bool StimulationIsReady() = 0;                                                    // 19
    virtual int StimulationBegin(const SZtStimulationRequest* request) = 0;                   // 20
    virtual int StimulationEnd(double* startTimes, double* endTimes, int count) = 0;          // 21
    virtual int StimulationFire(double* startTime, double* endTime) = 0;                      // 22
    virtual int StimulationAbort() = 0;                                                       // 23
    virtual int StimulationROIPrepare() = 0;                                                  // 24
    virtual int StimulationValidate(const SZtExperiment* experiment, CZtStringW* error) = 0;  // 25
    virtual IZtLaserPowerControl* GetLaserPowerControl() = 0;                                 // 26
};

// One entry of the stimulation-device manager.
struct SZtStimulationDeviceRecord {
    CZtStringW typeName;     // "Unknown" for plug-in devices
    CZtStringW libraryPath;  // the library that made the device
    CZtStringW uniqueName;
    IZtStimulationDevice* device = nullptr;
};

// The host's registry of stimulation devices. Static devices are held with one counted
// reference each, taken by StaticDeviceAdd and given back by StaticDeviceRemove.
class IZtStimulationDeviceManager {
public:
    virtual int GetDeviceCount() = 0;
    // 0, -4 for a null out, -5 for an index out of range. The device pointer is borrowed.
    virtual int GetDeviceInfo(int index, SZtStimulationDeviceRecord* info) = 0;
    // The device registered under uniqueName (borrowed), or null.
    virtual IZtStimulationDevice* GetStaticDevice(const wchar_t* uniqueName) = 0;
    // 0, -4 for a null device or empty name, -10 when the name is taken.
    virtual int StaticDeviceAdd(const SZtStimulationDeviceRecord& record) = 0;
    // 0, -4 for a null name, -5 when no device has that name.
    virtual int StaticDeviceRemove(const char* uniqueName) = 0;
    // Tells the host's views that the device list changed.
    virtual int Update() = 0;
    // The device the user selected as active, or null (borrowed).
    virtual IZtStimulationDevice* GetActive() = 0;

protected:
    virtual ~IZtStimulationDeviceManager() = default;
};

// Thread-safe (the manager it answers is).
class ZTHOST_API CZtStimulationDeviceManager {
public:
    // The host's manager, or null when the host runs without one.
    static IZtStimulationDeviceManager* GetInstance();
};

// The stimulation device's extension, used mainly by an aggregator over several devices (slot
// order fixed).
class IZtStimulationDeviceEx : public virtual IZtInterface {
public:
    virtual int AddUserPattern(const wchar_t* name, const wchar_t* path,
                               std::int32_t mapping) = 0;                   // 0
    virtual int GetUserPattern(const wchar_t* name, CZtStringW* path) = 0;  // 1
    virtual int ActivatePatternByName(const wchar_t* name) = 0;             // 2
    virtual bool HasPattern(const wchar_t* name) = 0;                       // 3
    virtual void RefreshPad() = 0;                                          // 4
    virtual int GetValue(int index, std::uint32_t* value) = 0;              // 5
    virtual int GetAssociatedLight(std::uint32_t* id) = 0;                  // 6
    virtual int SetControllingAggregator(IZtInterface* aggregator) = 0;     // 7
    virtual int GetControllingAggregator(IZtInterface** aggregator) = 0;    // 8
    virtual int TakeOverBitDepth(IZtInterface* other) = 0;                  // 9
    virtual int StimulationAreaSetFor(IZtInterface* caller, const CZtRoiObjectList* areas,
                                      const SZtRLEPicBuf* masks, const SZtScanAreaDesc* scanArea,
                                      const SZtGrabberFormatDesc* format,
                                      const SZtRect* cameraRect) = 0;  // 10
    virtual int GetBitDepth() = 0;                                     // 11
    virtual bool IsExposing() = 0;                                     // 12
};
