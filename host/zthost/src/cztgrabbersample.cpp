// CZtGrabberSample and the grabber's picture metadata: frames of the simulated camera.
#include <cwchar>

#include "hostcontext.h"
#include "simulatedcamera.h"
#include "zt/zt_acquisition.h"
#include "zt/zt_util.h"

namespace {

// The active camera's metadata, or a status when there is none.
int ReadMetadata(SZtPictureMetadata* metadata) {
    IZtGrabberProvider* grabber = HostContext::Instance().GetGrabberProvider();
    if (!grabber) {
        return -12;
    }
    SZtPictureMetadata read;
    SZtCameraDesc camera;
    int status = grabber->SecGrabber_GetActive(&read.cameraIndex);
    if (status == 0) {
        status = grabber->CameraGet_WRP(read.cameraIndex, &camera);
    }
    if (status == 0) {
        status = grabber->CameraSettingsGet(&read.format);
    }
    if (status == 0) {
        status = grabber->CameraAngleSWGet(&read.cameraAngle);
    }
    if (status != 0) {
        return status;
    }
    read.cameraName = camera.name;
    read.timeMs = ZT_GetTimeCounter();
    *metadata = read;
    return 0;
}

}  // namespace

int ZT_GetGrabberPictureMetadata(SZtPictureMetadata* metadata) {
    return metadata ? ReadMetadata(metadata) : -4;
}

int CZtGrabberSample::Capture() {
    Release();
    SZtPictureMetadata metadata;
    int status = ReadMetadata(&metadata);
    if (status == 0) {
        status =
            SimulatedCamera::Instance().Render(metadata.format, metadata.cameraAngle, &m_picture);
    }
    if (status == 0) {
        m_metadata = metadata;
    }
    return status;
}

int CZtGrabberSample::CopyPicture(SZtPicBuf* picture) const {
    if (!picture) {
        return -4;
    }
    if (m_picture.IsEmpty()) {
        return -9;
    }
    return CZtPicBufAPI::Copy(&m_picture, picture);
}

void CZtGrabberSample::Release() {
    CZtPicBufAPI::Free(&m_picture);
    m_metadata = SZtPictureMetadata{};
}
