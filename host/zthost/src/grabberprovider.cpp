// The simulated camera behind the grabber provider: its descriptor, angles, format and ROI.
#include "grabberprovider.h"

#include <algorithm>
#include <cmath>
#include <cwchar>
#include <numbers>
#include <string_view>

#include "hostcontext.h"
#include "scanareaform.h"
#include "zt/zt_camera.h"
#include "zthost/acquisition.h"

namespace {

bool RoiFitsSensor(const SZtRect& roi, const zthost::CameraSetup& camera) {
    return roi.left >= 0 && roi.top >= 0 && roi.left < roi.right && roi.top < roi.bottom &&
           roi.right <= camera.sensorWidth && roi.bottom <= camera.sensorHeight;
}

bool SameRect(const SZtRect& a, const SZtRect& b) {
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

}  // namespace

int GrabberProvider::SecGrabber_GetActive(int* grabberIndex) {
    if (!grabberIndex) {
        return -4;
    }
    std::lock_guard lock(m_mutex);
    if (!m_camera.hasCamera) {
        return -6;
    }
    *grabberIndex = m_camera.grabberIndex;
    return 0;
}

int GrabberProvider::CameraGet_WRP(int grabberIndex, SZtCameraDesc* camera) {
    if (!camera) {
        return -4;
    }
    std::lock_guard lock(m_mutex);
    if (!m_camera.hasCamera) {
        return -6;
    }
    if (grabberIndex != m_camera.grabberIndex) {
        return -5;
    }
    camera->name = CZtStringW(m_camera.name);
    camera->index = m_camera.grabberIndex;
    return 0;
}

int GrabberProvider::IsConfocal(bool* confocal) {
    if (!confocal) {
        return -4;
    }
    std::lock_guard lock(m_mutex);
    *confocal = m_camera.confocal;
    return 0;
}

int GrabberProvider::GetPropertyInt(const wchar_t* name, std::int32_t* value) {
    if (!name || !value) {
        return -4;
    }
    if (std::wstring_view(name) != L"ScannerTypeIndex") {
        return -5;
    }
    std::lock_guard lock(m_mutex);
    *value = m_camera.scannerTypeIndex;
    return 0;
}

int GrabberProvider::Interp_Rotate_Get(int channel, double* degrees) {
    if (!degrees) {
        return -4;
    }
    std::lock_guard lock(m_mutex);
    if (channel < 1 || channel > m_camera.channelCount) {
        return -5;
    }
    *degrees = m_camera.rotationDegrees;
    return 0;
}

int GrabberProvider::CameraAngleParamsGet(double* params) {
    if (!params) {
        return -4;
    }
    std::lock_guard lock(m_mutex);
    if (!m_camera.hasCamera) {
        return -6;
    }
    for (size_t i = 0; i < m_camera.angleParams.size(); ++i) {
        params[i] = m_camera.angleParams[i];
    }
    return 0;
}

int GrabberProvider::CameraAngleSWGet(double* radians) {
    if (!radians) {
        return -4;
    }
    std::lock_guard lock(m_mutex);
    if (!m_camera.hasCamera) {
        return -6;
    }
    *radians = m_camera.rotationDegrees * std::numbers::pi / 180.0;
    return 0;
}

int GrabberProvider::CameraSettingsGet(SZtGrabberFormatDesc* format) {
    if (!format) {
        return -4;
    }
    std::lock_guard lock(m_mutex);
    if (!m_camera.hasCamera) {
        return -6;
    }
    SZtGrabberFormatValue& value = format->value;
    value.sensorRect = SZtRect{0, 0, m_camera.sensorWidth, m_camera.sensorHeight};
    value.imageRect = m_camera.roiOn ? m_camera.roi : value.sensorRect;
    value.binningX = m_camera.binningX;
    value.binningY = m_camera.binningY;
    value.bitDepth = m_camera.bitDepth;
    // The same rule the plug-in applies to the angle parameters, so the format and they agree.
    value.flipY = std::fabs(m_camera.angleParams[0] - m_camera.angleParams[3]) > 0.0001;
    std::wcsncpy(format->name, m_camera.formatName.c_str(), std::size(format->name) - 1);
    format->name[std::size(format->name) - 1] = L'\0';
    return 0;
}

int GrabberProvider::CameraRoiGet(SZtRect* roi) {
    if (!roi) {
        return -4;
    }
    std::lock_guard lock(m_mutex);
    *roi = m_camera.roi;
    return 0;
}

int GrabberProvider::CameraRoiIsOn(bool* on) {
    if (!on) {
        return -4;
    }
    std::lock_guard lock(m_mutex);
    *on = m_camera.roiOn;
    return 0;
}

int GrabberProvider::CameraRoiSet(const SZtRect* roi) {
    bool formatChanged = false;
    {
        std::lock_guard lock(m_mutex);
        if (!roi) {
            return -4;
        }
        // As a camera does, the region is the part of the request on the sensor: a region worked
        // out on a binned, turned image may reach into the partial last binned pixel.
        const SZtRect clipped{std::max(roi->left, 0), std::max(roi->top, 0),
                              std::min(roi->right, m_camera.sensorWidth),
                              std::min(roi->bottom, m_camera.sensorHeight)};
        if (!RoiFitsSensor(clipped, m_camera)) {
            return -4;
        }
        formatChanged = m_camera.roiOn && !SameRect(m_camera.roi, clipped);
        m_camera.roi = clipped;
    }
    if (formatChanged) {
        ZT_CameraFormatChanged();
    }
    return 0;
}

int GrabberProvider::CameraRoiEnable(bool on) {
    bool formatChanged = false;
    {
        std::lock_guard lock(m_mutex);
        if (on && !RoiFitsSensor(m_camera.roi, m_camera)) {
            return -4;
        }
        formatChanged = m_camera.roiOn != on;
        m_camera.roiOn = on;
    }
    if (formatChanged) {
        ZT_CameraFormatChanged();
    }
    return 0;
}

int GrabberProvider::SetCamera(const zthost::CameraSetup& camera) {
    const bool usable = camera.sensorWidth > 0 && camera.sensorHeight > 0 &&
                        camera.binningX > 0.0 && camera.binningY > 0.0 && camera.channelCount > 0 &&
                        (!camera.roiOn || RoiFitsSensor(camera.roi, camera));
    if (!usable) {
        return -4;
    }
    {
        std::lock_guard lock(m_mutex);
        m_camera = camera;
        m_present = true;
    }
    ZT_CameraFormatChanged();
    return 0;
}

zthost::CameraSetup GrabberProvider::Camera() {
    std::lock_guard lock(m_mutex);
    return m_camera;
}

void GrabberProvider::SetPresent(bool present) {
    std::lock_guard lock(m_mutex);
    m_present = present;
}

bool GrabberProvider::IsPresent() {
    std::lock_guard lock(m_mutex);
    return m_present;
}

int GrabberProvider::GetGUIElement(const wchar_t* name, IZtInterface** element) {
    if (!name || !element) {
        return -4;
    }
    std::lock_guard lock(m_mutex);
    if (!m_scanAreaForm || std::wstring_view(name) != L"CZtScanAreaElement") {
        return -5;
    }
    m_scanAreaForm->AddRef();
    *element = m_scanAreaForm;
    return 0;
}

void GrabberProvider::SetScanAreaForm(const SZtScanAreaDesc* desc) {
    ScanAreaForm* removed = nullptr;
    {
        std::lock_guard lock(m_mutex);
        if (desc && m_scanAreaForm) {
            m_scanAreaForm->SetScanAreaDesc(*desc);
        } else if (desc) {
            m_scanAreaForm = new ScanAreaForm(*desc);
        } else {
            removed = m_scanAreaForm;
            m_scanAreaForm = nullptr;
        }
    }
    // Released outside the lock: a holder's last reference may be ours.
    if (removed) {
        removed->Release();
    }
}

void GrabberProvider::Clear() {
    SetScanAreaForm(nullptr);
    std::lock_guard lock(m_mutex);
    m_camera = zthost::CameraSetup{};
    m_present = false;
}

namespace zthost {

void SetScanAreaForm(const SZtScanAreaDesc& desc) {
    HostContext::Instance().Grabber().SetScanAreaForm(&desc);
}

void RemoveScanAreaForm() {
    HostContext::Instance().Grabber().SetScanAreaForm(nullptr);
}

}  // namespace zthost
