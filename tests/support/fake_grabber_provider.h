// A grabber provider for unit tests: public fields hold what each query answers.
#pragma once

#include <atomic>
#include <string>

#include "zt/zt_grabber.h"

// Thread-compatible; the angle-parameter status may be changed while other threads query.
class FakeGrabberProvider : public IZtGrabberProvider {
public:
    int SecGrabber_GetActive(int* grabberIndex) override {
        *grabberIndex = activeGrabber;
        return activeStatus;
    }
    int CameraGet_WRP(int grabberIndex, SZtCameraDesc* camera) override {
        if (grabberIndex != activeGrabber || cameraStatus != 0) {
            return cameraStatus != 0 ? cameraStatus : -5;
        }
        camera->name = cameraName;
        camera->index = 0;
        return 0;
    }
    int IsConfocal(bool* value) override {
        *value = confocal;
        return 0;
    }
    int GetPropertyInt(const wchar_t* name, std::int32_t* value) override {
        if (std::wstring(name) != L"ScannerTypeIndex" || scannerTypeStatus != 0) {
            return -5;
        }
        *value = scannerType;
        return 0;
    }
    int Interp_Rotate_Get(int channel, double* degrees) override {
        if (channel != 1 || rotationStatus != 0) {
            return -5;
        }
        *degrees = rotation;
        return 0;
    }
    int CameraAngleParamsGet(double* params) override {
        if (angleStatus != 0) {
            return angleStatus;
        }
        for (int i = 0; i < 4; ++i) {
            params[i] = angleParams[i];
        }
        return 0;
    }
    int CameraAngleSWGet(double* radians) override { return -5; }
    int CameraSettingsGet(SZtGrabberFormatDesc* format) override { return -6; }
    int CameraRoiGet(SZtRect* roi) override { return -6; }
    int CameraRoiIsOn(bool* on) override { return -6; }
    int CameraRoiSet(const SZtRect* roi) override { return -6; }
    int CameraRoiEnable(bool on) override { return -6; }

    int activeGrabber = 0;
    int activeStatus = 0;
    std::wstring cameraName = L"Cam1";
    int cameraStatus = 0;
    bool confocal = false;
    std::int32_t scannerType = 0;
    int scannerTypeStatus = 0;
    double rotation = 0.0;
    int rotationStatus = 0;
    double angleParams[4] = {1.0, 0.0, 0.0, 1.0};
    std::atomic<int> angleStatus{0};
};
