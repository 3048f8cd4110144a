// GrabberProvider: the host's simulated camera (IZtGrabberProvider), set up through
// zthost/microscope.h.
#pragma once

#include <mutex>

#include "zt/zt_grabber.h"
#include "zthost/microscope.h"

class ScanAreaForm;

// Thread-safe: the plug-in's calibration worker reads the camera while the GUI thread sets ROIs.
class GrabberProvider : public IZtGrabberProvider {
public:
    int SecGrabber_GetActive(int* grabberIndex) override;
    int CameraGet_WRP(int grabberIndex, SZtCameraDesc* camera) override;
    int IsConfocal(bool* confocal) override;
    int GetPropertyInt(const wchar_t* name, std::int32_t* value) override;
    int Interp_Rotate_Get(int channel, double* degrees) override;
    int CameraAngleParamsGet(double* params) override;
    int CameraAngleSWGet(double* radians) override;
    int CameraSettingsGet(SZtGrabberFormatDesc* format) override;
    int CameraRoiGet(SZtRect* roi) override;
    int CameraRoiIsOn(bool* on) override;
    int CameraRoiSet(const SZtRect* roi) override;
    int CameraRoiEnable(bool on) override;
    int GetGUIElement(const wchar_t* name, IZtInterface** element) override;

    // The control side (zthost/microscope.h).
    int SetCamera(const zthost::CameraSetup& camera);
    zthost::CameraSetup Camera();
    void SetPresent(bool present);
    bool IsPresent();
    // Shows the scan-area form with desc, or (null) shows none.
    void SetScanAreaForm(const SZtScanAreaDesc* desc);
    // Back to the default camera without a scan-area form; the host then has no grabber provider.
    void Clear();

private:
    std::mutex m_mutex;
    zthost::CameraSetup m_camera;
    bool m_present = false;
    ScanAreaForm* m_scanAreaForm = nullptr;  // one counted reference while shown
};
