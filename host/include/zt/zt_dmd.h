// Logical devices of the host's device manager and the DMD device interface, with host defaults.
#pragma once

#include <cstdint>
#include <vector>

#include "zt/zt_class.h"
#include "zt/zt_export.h"
#include "zt/zt_string.h"

class QObject;
class QWidget;
class CZtLiteVariantW;
class CZtLiteVariantR;
struct SZtPicBuf;
struct SZtRect;

// A logical device the host's device manager lists (slot order fixed, 0-26).
class IZtLogicalDevice : public virtual IZtInterface {
public:
    virtual int GetDeviceName(CZtStringW* name) = 0;               // 0
    virtual const wchar_t* GetInterfaceName() = 0;                 // 1
    virtual const wchar_t* GetTypeName() = 0;                      // 2
    virtual const wchar_t* GetTypeDescription() = 0;               // 3
    virtual const wchar_t* GetTypeText(int kind) = 0;              // 4
    virtual int GetDeviceID(ZT_DWORD* id) = 0;                     // 5
    virtual int SetDeviceName(const wchar_t* name) = 0;            // 6
    virtual bool IsActiveByDefault() = 0;                          // 7
    virtual bool IsInDeviceGroup(const wchar_t* group) = 0;        // 8
    virtual int SaveKeys(CZtLiteVariantW* keys) = 0;               // 9
    virtual int LoadKeys(CZtLiteVariantR* keys, ZT_DWORD id) = 0;  // 10
    virtual bool HasDeviceCapability(ZT_DWORD code) = 0;           // 11
    virtual int GetGUIOptions(ZT_DWORD* options) = 0;              // 12
    virtual int ShowConfigurationDialog(QWidget* parent) = 0;      // 13
    virtual int SetGUIOptions(ZT_DWORD options) = 0;               // 14
    virtual int Reserved15() = 0;                                  // 15
    virtual int ParameterByCode(ZT_DWORD code, void* value) = 0;   // 16
    virtual int ShowRenameDialog(QWidget* parent) = 0;             // 17
    virtual int GetDefaultName(CZtStringW* name) = 0;              // 18
    virtual QObject* GetControlPadGUIElement() = 0;                // 19
    virtual int GetControlPadGUIElementInfo(CZtStringW* title, CZtStringW* group,
                                            CZtStringW* bitmap) = 0;  // 20
    virtual int UpdateControlPad() = 0;                               // 21
    virtual int GetDeviceBands(int* count) = 0;                       // 22
    virtual int RefreshDeviceBands() = 0;                             // 23
    virtual int GetState(std::int32_t* state) = 0;                    // 24
    virtual int SetState(std::int32_t state) = 0;                     // 25
    virtual int SetAlternationSequence(const void* sequence) = 0;     // 26
};

// The host's DMD logical device, "IDeviceDMD_V2" (slots 27-57 after those of IZtLogicalDevice).
class IZtDeviceDMD : public IZtLogicalDevice {
public:
    virtual int GetAssociatedShuttersOpen(bool* open) = 0;                  // 27
    virtual int SetAssociatedShuttersOpenState(bool open) = 0;              // 28
    virtual int GetAssociatedShutterCount(ZT_DWORD* count) = 0;             // 29
    virtual int GetAssociatedShutterId(int index, ZT_DWORD* id) = 0;        // 30
    virtual int GetAssociatedLightId(ZT_DWORD* id) = 0;                     // 31
    virtual int GetAssociatedSwitcherId(ZT_DWORD* id) = 0;                  // 32
    virtual int GetAssociatedSwitcherPort(ZT_DWORD* port) = 0;              // 33
    virtual int GetPatternCount(ZT_DWORD* count) = 0;                       // 34
    virtual int GetPatternName(ZT_DWORD id, CZtStringW* name) = 0;          // 35
    virtual int GetPatternAvailable(ZT_DWORD id, bool* available) = 0;      // 36
    virtual int GetActivePatternId(ZT_DWORD* id) = 0;                       // 37
    virtual int SetActivePatternId(ZT_DWORD id) = 0;                        // 38
    virtual int GetPatternIdByName(const wchar_t* name, ZT_DWORD* id) = 0;  // 39
    virtual int GetPatternIdByIndex(ZT_DWORD index, ZT_DWORD* id) = 0;      // 40
    virtual int Reserved41() = 0;                                           // 41
    virtual int Reserved42() = 0;                                           // 42
    virtual int GetPatternCameraProjection(ZT_DWORD id, SZtPicBuf* picture, const SZtRect* rect1,
                                           const SZtRect* rect2, double value1, double value2,
                                           double angleDegrees) = 0;    // 43
    virtual int IsCalibrated(bool* calibrated) = 0;                     // 44
    virtual int UpdateAlternationSequence() = 0;                        // 45
    virtual int GetLineAlternationTiming(double* timing) = 0;           // 46
    virtual int SetOperationMode(std::int32_t mode) = 0;                // 47
    virtual int GetIlluminationSequenceState(std::int32_t* state) = 0;  // 48
    virtual int GetTriggeringStatus(std::int32_t* status) = 0;          // 49
    virtual int UpdateIlluminationSequencePower() = 0;                  // 50
    // sequence: an SZtIlluminationSequence.
    virtual int SetIlluminationSequence(const void* sequence) = 0;          // 51
    virtual int GenerateGridAppendToISPool(int columns, int rows) = 0;      // 52
    virtual int GetTriggeringBounds(double* minimum, double* maximum) = 0;  // 53
    virtual int GetSwitchingSpeed(double* speed) = 0;                       // 54
    virtual int IsTriggeredWithDevices(bool* triggered) = 0;                // 55
    virtual int Reserved56() = 0;                                           // 56
    virtual int Reserved57() = 0;                                           // 57
};

// One step of an external illumination sequence: a pattern shown for frameCycleCount external
// triggers, each exposure exposureMs long, followed by a gap of gapMs.
struct SZtIlluminationSequenceStep {
    ZT_DWORD patternId = 0;  // a pattern of the device; 10000 + n: entry n of its sequence pool
    std::int32_t frameCycleCount = 1;
    double exposureMs = 0.0;
    double gapMs = 0.0;
};

// What IZtDeviceDMD::SetIlluminationSequence takes: the steps in order, the whole sequence run
// repeatCount + 1 times. A plain value.
struct SZtIlluminationSequence {
    std::vector<SZtIlluminationSequenceStep> steps;
    std::int32_t repeatCount = 0;
};

// Thread-bound to the host's main thread, like the device manager that calls it.
//
// The host's defaults of every slot: a DMD device overrides what it supports. Statuses: 22 not
// supported, 14 a null out pointer.
class CZtDeviceDMD_Default : public IZtDeviceDMD {
public:
    int GetDeviceName(CZtStringW* name) override { return CopyOut(m_deviceName, name); }
    const wchar_t* GetInterfaceName() override { return L""; }
    const wchar_t* GetTypeName() override { return L""; }
    const wchar_t* GetTypeDescription() override { return L""; }
    const wchar_t* GetTypeText(int kind) override { return L""; }
    int GetDeviceID(ZT_DWORD* id) override { return kDmdNotSupported; }
    int SetDeviceName(const wchar_t* name) override {
        m_deviceName = CZtStringW(name);
        return 0;
    }
    bool IsActiveByDefault() override { return true; }
    bool IsInDeviceGroup(const wchar_t* group) override { return false; }
    int SaveKeys(CZtLiteVariantW* keys) override { return kDmdNotSupported; }
    int LoadKeys(CZtLiteVariantR* keys, ZT_DWORD id) override { return kDmdNotSupported; }
    bool HasDeviceCapability(ZT_DWORD code) override { return false; }
    int GetGUIOptions(ZT_DWORD* options) override {
        if (!options) {
            return kDmdNullPointer;
        }
        *options = m_guiOptions;
        return 0;
    }
    int ShowConfigurationDialog(QWidget* parent) override { return kDmdNotSupported; }
    int SetGUIOptions(ZT_DWORD options) override {
        m_guiOptions = options;
        return 0;
    }
    int Reserved15() override { return kDmdNotSupported; }
    int ParameterByCode(ZT_DWORD code, void* value) override { return kDmdNotSupported; }
    int ShowRenameDialog(QWidget* parent) override { return kDmdNotSupported; }
    int GetDefaultName(CZtStringW* name) override { return CopyOut(m_deviceName, name); }
    QObject* GetControlPadGUIElement() override { return nullptr; }
    int GetControlPadGUIElementInfo(CZtStringW*, CZtStringW*, CZtStringW*) override {
        return kDmdNotSupported;
    }
    int UpdateControlPad() override { return kDmdNotSupported; }
    int GetDeviceBands(int* count) override { return kDmdNotSupported; }
    int RefreshDeviceBands() override { return kDmdNotSupported; }
    int GetState(std::int32_t* state) override {
        if (!state) {
            return kDmdNullPointer;
        }
        *state = m_state;
        return 0;
    }
    int SetState(std::int32_t state) override {
        m_state = state;
        return 0;
    }
    int SetAlternationSequence(const void* sequence) override { return kDmdNotSupported; }

    int GetAssociatedShuttersOpen(bool* open) override { return kDmdNotSupported; }
    int SetAssociatedShuttersOpenState(bool open) override { return kDmdNotSupported; }
    int GetAssociatedShutterCount(ZT_DWORD* count) override { return kDmdNotSupported; }
    int GetAssociatedShutterId(int index, ZT_DWORD* id) override { return kDmdNotSupported; }
    int GetAssociatedLightId(ZT_DWORD* id) override { return kDmdNotSupported; }
    int GetAssociatedSwitcherId(ZT_DWORD* id) override { return kDmdNotSupported; }
    int GetAssociatedSwitcherPort(ZT_DWORD* port) override { return kDmdNotSupported; }
    int GetPatternCount(ZT_DWORD* count) override { return kDmdNotSupported; }
    int GetPatternName(ZT_DWORD id, CZtStringW* name) override { return kDmdNotSupported; }
    int GetPatternAvailable(ZT_DWORD id, bool* available) override { return kDmdNotSupported; }
    int GetActivePatternId(ZT_DWORD* id) override { return kDmdNotSupported; }
    int SetActivePatternId(ZT_DWORD id) override { return kDmdNotSupported; }
    int GetPatternIdByName(const wchar_t* name, ZT_DWORD* id) override { return kDmdNotSupported; }
    int GetPatternIdByIndex(ZT_DWORD index, ZT_DWORD* id) override { return kDmdNotSupported; }
    int Reserved41() override { return kDmdNotSupported; }
    int Reserved42() override { return kDmdNotSupported; }
    int GetPatternCameraProjection(ZT_DWORD, SZtPicBuf*, const SZtRect*, const SZtRect*, double,
                                   double, double) override {
        return kDmdNotSupported;
    }
    int IsCalibrated(bool* calibrated) override { return kDmdNotSupported; }
    int UpdateAlternationSequence() override { return kDmdNotSupported; }
    int GetLineAlternationTiming(double* timing) override { return kDmdNotSupported; }
    int SetOperationMode(std::int32_t mode) override { return kDmdNotSupported; }
    int GetIlluminationSequenceState(std::int32_t* state) override { return kDmdNotSupported; }
    int GetTriggeringStatus(std::int32_t* status) override { return kDmdNotSupported; }
    int UpdateIlluminationSequencePower() override { return kDmdNotSupported; }
    int SetIlluminationSequence(const void* sequence) override { return kDmdNotSupported; }
    int GenerateGridAppendToISPool(int columns, int rows) override { return kDmdNotSupported; }
    int GetTriggeringBounds(double* minimum, double* maximum) override { return kDmdNotSupported; }
    int GetSwitchingSpeed(double* speed) override { return kDmdNotSupported; }
    int IsTriggeredWithDevices(bool* triggered) override {
        if (!triggered) {
            return kDmdNullPointer;
        }
        *triggered = false;
        return 0;
    }
    int Reserved56() override { return kDmdNotSupported; }
    int Reserved57() override { return kDmdNotSupported; }

protected:
    static constexpr int kDmdNotSupported = 22;
    static constexpr int kDmdNullPointer = 14;

    ~CZtDeviceDMD_Default() override = default;

private:
    static int CopyOut(const CZtStringW& text, CZtStringW* out) {
        if (!out) {
            return kDmdNullPointer;
        }
        *out = text;
        return 0;
    }

    CZtStringW m_deviceName;
    ZT_DWORD m_guiOptions = 0;
    std::int32_t m_state = 0;
};
