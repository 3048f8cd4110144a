// The DMD interface's slots of the device: its keys and capabilities, parameters, control-pad
// texts, the associated light path's ids and the patterns it offers.
#pragma once

#include <cstdint>

#include "zt/zt_export.h"
#include "zt/zt_grabber.h"
#include "zt/zt_picbuf.h"
#include "zt/zt_string.h"

class CZtLiteVariantR;
class CZtLiteVariantW;
class CZtStimulationDeviceVerove;
class QWidget;

// Thread-bound to the host's main thread, except the pattern look-ups, which run on the thread of
// the driver or host call that needs them and take the driver's buffer lock.
class CZtVeroveDmdAdapter {
public:
    // device is borrowed: it owns the adapter.
    explicit CZtVeroveDmdAdapter(CZtStimulationDeviceVerove& device) : m_device(device) {}
    CZtVeroveDmdAdapter(const CZtVeroveDmdAdapter&) = delete;
    CZtVeroveDmdAdapter& operator=(const CZtVeroveDmdAdapter&) = delete;

    int GetDeviceID(ZT_DWORD* id);
    int SaveKeys(CZtLiteVariantW* keys);
    int LoadKeys(CZtLiteVariantR* keys, ZT_DWORD id);
    bool HasDeviceCapability(ZT_DWORD code);
    int ShowConfigurationDialog(QWidget* parent);
    int ParameterByCode(ZT_DWORD code, void* value);
    int GetControlPadGUIElementInfo(CZtStringW* title, CZtStringW* group, CZtStringW* bitmap);
    int UpdateControlPad();
    int GetAssociatedShuttersOpen(bool* open);
    int GetAssociatedShutterCount(ZT_DWORD* count);
    int GetAssociatedShutterId(int index, ZT_DWORD* id);
    int GetAssociatedLightId(ZT_DWORD* id);
    int GetAssociatedSwitcherId(ZT_DWORD* id);
    int GetAssociatedSwitcherPort(ZT_DWORD* port);
    int GetPatternCount(ZT_DWORD* count);
    // The number of patterns the device offers (built-in and user patterns).
    int GetPatternCount();
    int GetPatternName(ZT_DWORD id, CZtStringW* name);
    int GetPatternAvailable(ZT_DWORD id, bool* available);
    int GetActivePatternId(ZT_DWORD* id);
    int SetActivePatternId(ZT_DWORD id);
    int GetPatternIdByName(const wchar_t* name, ZT_DWORD* id);
    int GetPatternIdByIndex(ZT_DWORD index, ZT_DWORD* id);
    int GetPatternCameraProjection(ZT_DWORD id, SZtPicBuf* picture, const SZtRect* rect1,
                                   const SZtRect* rect2, double value1, double value2,
                                   double angleDegrees);
    int IsCalibrated(bool* calibrated);
    int AddUserPattern(const wchar_t* name, const wchar_t* path, std::int32_t mapping);
    int GetUserPattern(const wchar_t* name, CZtStringW* path);
    int ActivatePatternByName(const wchar_t* name);
    bool HasPattern(const wchar_t* name);
    int GetValue(int index, std::uint32_t* value);

private:
    CZtStimulationDeviceVerove& m_device;
    bool m_triggerAvailable = false;
    // Handed out by ParameterByCode: the host keeps the pointer.
    const wchar_t* const m_emptyText = L"";
};
