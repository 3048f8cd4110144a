// The host's device manager (DMApi): logical devices of the microscope and their state.
#pragma once

#include <cstdint>

#include "zt/zt_export.h"
#include "zt/zt_string.h"

// Type codes of logical devices (LogDev_GetType).
enum EZtLogDevType : int {
    ZT_LOGDEV_LIGHT = 1,
    ZT_LOGDEV_SHUTTER = 6,
    ZT_LOGDEV_MICROSCOPE = 7,
    ZT_LOGDEV_NOSEPIECE = 15,
    ZT_LOGDEV_FILTERCHANGER = 16,
    ZT_LOGDEV_ZOOM = 18,
    ZT_LOGDEV_MULTILASER = 21,
    ZT_LOGDEV_LASEROUTPUT = 42,  // a laser output (switcher) with port combinations
};

// Capability codes of logical devices (LogDev_HasCapability).
constexpr ZT_DWORD ZT_LOGDEV_CAP_LIGHT_INTENSITY = 16;  // the host sets the light's intensity
constexpr ZT_DWORD ZT_LOGDEV_CAP_LIGHT_ONOFF = 17;      // the host switches the light or its lines
constexpr ZT_DWORD ZT_LOGDEV_CAP_GALVO_XY = 132;
// A laser output whose port combination follows the light path by itself: nobody picks its port.
constexpr ZT_DWORD ZT_LOGDEV_CAP_LASEROUTPUT_FIXED = 152;

// Custom commands a plug-in sends to the laser outputs (LogDev_SendCustomCommand).
constexpr ZT_DWORD ZT_CUSTOMCMD_LIGHT_ANNOUNCE = 77829;     // text: light type; first: light id
constexpr ZT_DWORD ZT_CUSTOMCMD_SWITCHER_ANNOUNCE = 77830;  // first: switcher id; second: port

// Answer of a command that a device in deferred completion accepted and finishes later.
constexpr int ZT_DM_PENDING = 1;

// The host's device manager, reached through IZtHostContext::GetDeviceManager(). Logical devices
// are named by id (never 0). Every call returns 0 on success and fills its out parameters, or a
// status and leaves them unchanged:
//   -4  a null out parameter
//   -5  no logical device has the id
//   -6  the device is not of the type the call is for
//   -7  the position, index, line or value is out of range
//   -9  the device refused the command, or its physical device is off line; it keeps its state
//   -11 a wait ran out before the device finished
// Commands that change a device answer 0 once the device has taken the new state, or
// ZT_DM_PENDING while its physical device is in deferred completion: the device takes the state
// later, in the order the commands came, and PhysDev_WaitForCompletion waits for that. When a
// device's state changes, the host sends the module event "ZT_MODULEEVENT_DEVICE_BEFORE_CHANGED"
// (param: the number of ids; list: the changed logical ids, ZT_DWORD) after the device manager
// answers the new state, on the thread that completed the command.
// Positions of nosepieces, filter changers and laser outputs, laser lines and light steps count
// from 0. Line powers are percentages (0 to 100).
class DMApi {
public:
    // ---- Logical devices ----
    virtual int LogDev_GetCount(int* count) = 0;
    virtual int LogDev_GetId(int index, ZT_DWORD* id) = 0;   // index in [0, count)
    virtual int LogDev_GetType(ZT_DWORD id, int* type) = 0;  // EZtLogDevType or another code
    virtual int LogDev_GetVisible(ZT_DWORD id, bool* visible) = 0;
    virtual int LogDev_GetActive(ZT_DWORD id, bool* active) = 0;
    virtual int LogDev_GetKey(ZT_DWORD id, CZtStringW* key) = 0;
    virtual int LogDev_HasCapability(ZT_DWORD id, ZT_DWORD capability, bool* has) = 0;
    virtual int LogDev_GetPhysicalId(ZT_DWORD id, ZT_DWORD* physicalId) = 0;
    // The first device of the type with the key.
    virtual int LogDev_GetIdByKey(int type, const wchar_t* key, ZT_DWORD* id) = 0;
    // A command whose meaning lies with the receiving device (ZT_CUSTOMCMD_...); text may be null.
    virtual int LogDev_SendCustomCommand(ZT_DWORD id, ZT_DWORD command, bool simulated,
                                         const wchar_t* text, ZT_DWORD first, ZT_DWORD second) = 0;

    // ---- Nosepiece (type 15) ----
    virtual int Nosepiece_GetPosition(ZT_DWORD id, int* position) = 0;
    virtual int Nosepiece_GetObjectiveCode(ZT_DWORD id, int position, CZtStringW* code) = 0;

    // ---- Filter changer (type 16) ----
    virtual int FilterChanger_GetPosition(ZT_DWORD id, int* position) = 0;
    virtual int FilterChanger_GetKey(ZT_DWORD id, CZtStringW* key) = 0;
    virtual int FilterChanger_GetFilterName(ZT_DWORD id, int position, CZtStringW* name) = 0;

    // ---- Light (type 1), microscope (type 7) ----
    // A light's intensity is a voltage, an iris value, or neither (on and off only). The voltage
    // and iris calls give -6 for a light of the other kind.
    virtual int Light_GetKey(ZT_DWORD id, CZtStringW* key) = 0;
    virtual int Light_IsVoltageControlled(ZT_DWORD id, bool* voltage) = 0;
    virtual int Light_IsIrisControlled(ZT_DWORD id, bool* iris) = 0;
    virtual int Light_GetVoltage(ZT_DWORD id, double* voltage) = 0;
    virtual int Light_SetVoltage(ZT_DWORD id, double voltage) = 0;  // within Light_GetRange
    virtual int Light_GetIris(ZT_DWORD id, double* iris) = 0;
    virtual int Light_SetIris(ZT_DWORD id, double iris) = 0;  // within Light_GetRange
    // The range of the voltage or iris value, and the steps the host's control offers in it
    // (evenly spaced from minimum to maximum; a single step is the maximum).
    virtual int Light_GetRange(ZT_DWORD id, double* minimum, double* maximum) = 0;
    virtual int Light_GetStepCount(ZT_DWORD id, int* count) = 0;
    virtual int Light_GetStepValue(ZT_DWORD id, int step, double* value) = 0;
    virtual int Microscope_GetKey(ZT_DWORD id, CZtStringW* key) = 0;

    // ---- Multi-laser launch (type 21) ----
    virtual int MultiLaser_GetKey(ZT_DWORD id, CZtStringW* key) = 0;
    virtual int MultiLaser_GetLineCount(ZT_DWORD id, int* count) = 0;
    virtual int MultiLaser_GetLineUsed(ZT_DWORD id, int line, bool* used) = 0;
    virtual int MultiLaser_SetLineUsed(ZT_DWORD id, int line, bool used) = 0;
    virtual int MultiLaser_GetLinePower(ZT_DWORD id, int line, double* power) = 0;
    virtual int MultiLaser_SetLinePower(ZT_DWORD id, int line, double power) = 0;
    virtual int MultiLaser_GetLineWavelength(ZT_DWORD id, int line, ZT_DWORD* nanometres) = 0;

    // ---- Laser output (type 42): a switcher standing at one of its port combinations ----
    virtual int LaserOutput_GetKey(ZT_DWORD id, CZtStringW* key) = 0;
    virtual int LaserOutput_GetPortCombinationCount(ZT_DWORD id, int* count) = 0;
    virtual int LaserOutput_GetPortCombinationName(ZT_DWORD id, int index, CZtStringW* name) = 0;
    virtual int LaserOutput_GetPortCombination(ZT_DWORD id, int* index) = 0;
    virtual int LaserOutput_SetPortCombination(ZT_DWORD id, int index) = 0;

    // ---- Shutter (type 6) ----
    virtual int Shutter_GetKey(ZT_DWORD id, CZtStringW* key) = 0;
    virtual int Shutter_GetState(ZT_DWORD id, bool* open) = 0;
    // waitMs: in deferred completion, how long the call itself waits for the shutter (0: not at
    // all; it answers ZT_DM_PENDING, or -11 when the wait ran out). notify: false keeps the change
    // from the other modules (no device-change event).
    virtual int Shutter_SetState(ZT_DWORD id, bool open, ZT_DWORD waitMs, bool notify) = 0;

    // ---- Zoom (type 18) ----
    virtual int Zoom_GetManual(ZT_DWORD id, bool* manual) = 0;  // a zoom the user sets by hand
    virtual int Zoom_GetZoom(ZT_DWORD id, double* zoom) = 0;

    // ---- Galvo XY scanners ----
    virtual int DMApi_GalvoXY_GetCount(int* count) = 0;

    // ---- Physical devices (the ids LogDev_GetPhysicalId answers; -5 for an id no logical device
    // refers to) ----
    virtual int PhysDev_IsConnected(ZT_DWORD physicalId, bool* connected) = 0;
    // Takes the physical device off line; its logical devices stay listed.
    virtual int PhysDev_Disconnect(ZT_DWORD physicalId) = 0;
    // Deferred completion: the device's commands answer ZT_DM_PENDING and finish later.
    virtual int PhysDev_SupportsDeferredCompletion(ZT_DWORD physicalId, bool* supported) = 0;
    virtual int PhysDev_SetDeferredCompletion(ZT_DWORD physicalId, bool on) = 0;  // -9 unsupported
    virtual int PhysDev_GetDeferredCompletion(ZT_DWORD physicalId, bool* on) = 0;
    // Blocks until none of the device's commands is pending (0 at once when none is), or -11
    // after timeoutMs (ZT_INFINITE: no limit).
    virtual int PhysDev_WaitForCompletion(ZT_DWORD physicalId, ZT_DWORD timeoutMs) = 0;

    // ---- The device manager itself ----
    // Re-reads the configuration of every device.
    virtual int DMApi_Refresh() = 0;
    // Whether the devices of the configuration the host started with are connected; false while
    // the host is still bringing them up.
    virtual int DMApi_IsDeviceListConnected(bool* connected) = 0;

protected:
    virtual ~DMApi() = default;
};
