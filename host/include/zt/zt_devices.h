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
};

// Capability codes of logical devices (LogDev_HasCapability).
constexpr ZT_DWORD ZT_LOGDEV_CAP_GALVO_XY = 132;

// The host's device manager, reached through IZtHostContext::GetDeviceManager(). Logical devices
// are named by id (never 0). Every call returns 0 on success and fills its out parameters, or a
// status and leaves them unchanged:
//   -4  a null out parameter
//   -5  no logical device has the id
//   -6  the device is not of the type the call is for
//   -7  the position, index or line is out of range
// Positions of nosepieces and filter changers and laser lines count from 0.
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

    // ---- Nosepiece (type 15) ----
    virtual int Nosepiece_GetPosition(ZT_DWORD id, int* position) = 0;
    virtual int Nosepiece_GetObjectiveCode(ZT_DWORD id, int position, CZtStringW* code) = 0;

    // ---- Filter changer (type 16) ----
    virtual int FilterChanger_GetPosition(ZT_DWORD id, int* position) = 0;
    virtual int FilterChanger_GetKey(ZT_DWORD id, CZtStringW* key) = 0;
    virtual int FilterChanger_GetFilterName(ZT_DWORD id, int position, CZtStringW* name) = 0;

    // ---- Light (type 1), microscope (type 7) ----
    virtual int Light_GetKey(ZT_DWORD id, CZtStringW* key) = 0;
    virtual int Microscope_GetKey(ZT_DWORD id, CZtStringW* key) = 0;

    // ---- Multi-laser launch (type 21) ----
    virtual int MultiLaser_GetKey(ZT_DWORD id, CZtStringW* key) = 0;
    virtual int MultiLaser_GetLineCount(ZT_DWORD id, int* count) = 0;
    virtual int MultiLaser_GetLineUsed(ZT_DWORD id, int line, bool* used) = 0;

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

    // ---- The device manager itself ----
    // Re-reads the configuration of every device.
    virtual int DMApi_Refresh() = 0;
    // Whether the devices of the configuration the host started with are connected; false while
    // the host is still bringing them up.
    virtual int DMApi_IsDeviceListConnected(bool* connected) = 0;

protected:
    virtual ~DMApi() = default;
};
