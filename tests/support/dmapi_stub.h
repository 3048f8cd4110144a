// DMApiStub: a device manager without devices, the base of test doubles that fill in a few calls.
#pragma once

#include "zt/zt_devices.h"

// Reentrant: holds nothing. Counts answer 0, every device and physical device is unknown (-5), the
// device list is connected.
class DMApiStub : public DMApi {
public:
    int LogDev_GetCount(int* count) override { return Zero(count); }
    int LogDev_GetId(int, ZT_DWORD*) override { return -7; }
    int LogDev_GetType(ZT_DWORD, int*) override { return -5; }
    int LogDev_GetVisible(ZT_DWORD, bool*) override { return -5; }
    int LogDev_GetActive(ZT_DWORD, bool*) override { return -5; }
    int LogDev_GetKey(ZT_DWORD, CZtStringW*) override { return -5; }
    int LogDev_HasCapability(ZT_DWORD, ZT_DWORD, bool*) override { return -5; }
    int LogDev_GetPhysicalId(ZT_DWORD, ZT_DWORD*) override { return -5; }
    int LogDev_GetIdByKey(int, const wchar_t*, ZT_DWORD*) override { return -5; }
    int LogDev_SendCustomCommand(ZT_DWORD, ZT_DWORD, bool, const wchar_t*, ZT_DWORD,
                                 ZT_DWORD) override {
        return -5;
    }
    int Nosepiece_GetPosition(ZT_DWORD, int*) override { return -5; }
    int Nosepiece_GetObjectiveCode(ZT_DWORD, int, CZtStringW*) override { return -5; }
    int FilterChanger_GetPosition(ZT_DWORD, int*) override { return -5; }
    int FilterChanger_GetKey(ZT_DWORD, CZtStringW*) override { return -5; }
    int FilterChanger_GetFilterName(ZT_DWORD, int, CZtStringW*) override { return -5; }
    int Light_GetKey(ZT_DWORD, CZtStringW*) override { return -5; }
    int Light_IsVoltageControlled(ZT_DWORD, bool*) override { return -5; }
    int Light_IsIrisControlled(ZT_DWORD, bool*) override { return -5; }
    int Light_GetVoltage(ZT_DWORD, double*) override { return -5; }
    int Light_SetVoltage(ZT_DWORD, double) override { return -5; }
    int Light_GetIris(ZT_DWORD, double*) override { return -5; }
    int Light_SetIris(ZT_DWORD, double) override { return -5; }
    int Light_GetRange(ZT_DWORD, double*, double*) override { return -5; }
    int Light_GetStepCount(ZT_DWORD, int*) override { return -5; }
    int Light_GetStepValue(ZT_DWORD, int, double*) override { return -5; }
    int Microscope_GetKey(ZT_DWORD, CZtStringW*) override { return -5; }
    int MultiLaser_GetKey(ZT_DWORD, CZtStringW*) override { return -5; }
    int MultiLaser_GetLineCount(ZT_DWORD, int*) override { return -5; }
    int MultiLaser_GetLineUsed(ZT_DWORD, int, bool*) override { return -5; }
    int MultiLaser_SetLineUsed(ZT_DWORD, int, bool) override { return -5; }
    int MultiLaser_GetLinePower(ZT_DWORD, int, double*) override { return -5; }
    int MultiLaser_SetLinePower(ZT_DWORD, int, double) override { return -5; }
    int MultiLaser_GetLineWavelength(ZT_DWORD, int, ZT_DWORD*) override { return -5; }
    int LaserOutput_GetKey(ZT_DWORD, CZtStringW*) override { return -5; }
    int LaserOutput_GetPortCombinationCount(ZT_DWORD, int*) override { return -5; }
    int LaserOutput_GetPortCombinationName(ZT_DWORD, int, CZtStringW*) override { return -5; }
    int LaserOutput_GetPortCombination(ZT_DWORD, int*) override { return -5; }
    int LaserOutput_SetPortCombination(ZT_DWORD, int) override { return -5; }
    int Shutter_GetKey(ZT_DWORD, CZtStringW*) override { return -5; }
    int Shutter_GetState(ZT_DWORD, bool*) override { return -5; }
    int Shutter_SetState(ZT_DWORD, bool, ZT_DWORD, bool) override { return -5; }
    int Zoom_GetManual(ZT_DWORD, bool*) override { return -5; }
    int Zoom_GetZoom(ZT_DWORD, double*) override { return -5; }
    int DMApi_GalvoXY_GetCount(int* count) override { return Zero(count); }
    int PhysDev_IsConnected(ZT_DWORD, bool*) override { return -5; }
    int PhysDev_Disconnect(ZT_DWORD) override { return -5; }
    int PhysDev_SupportsDeferredCompletion(ZT_DWORD, bool*) override { return -5; }
    int PhysDev_SetDeferredCompletion(ZT_DWORD, bool) override { return -5; }
    int PhysDev_GetDeferredCompletion(ZT_DWORD, bool*) override { return -5; }
    int PhysDev_WaitForCompletion(ZT_DWORD, ZT_DWORD) override { return -5; }
    int DMApi_Refresh() override { return 0; }
    int DMApi_IsDeviceListConnected(bool* connected) override {
        if (!connected) {
            return -4;
        }
        *connected = true;
        return 0;
    }

private:
    static int Zero(int* count) {
        if (!count) {
            return -4;
        }
        *count = 0;
        return 0;
    }
};
