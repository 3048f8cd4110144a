// The grabber provider: the simulated camera as the plug-in reads it, set up through the
// simulated microscope's control side.
#include <gtest/gtest.h>

#include <array>

#include <cmath>
#include <numbers>
#include <string>

#include "zt/zt_grabber.h"
#include "zthost/microscope.h"
#include "zthost/zthost.h"

namespace {

class Grabber : public ::testing::Test {
protected:
    void SetUp() override { zthost::ResetForTests(); }
    void TearDown() override { zthost::ResetForTests(); }

    IZtGrabberProvider* Provider() { return zthost::HostContext()->GetGrabberProvider(); }

    static zthost::CameraSetup Sensor(int width, int height) {
        zthost::CameraSetup camera;
        camera.sensorWidth = width;
        camera.sensorHeight = height;
        return camera;
    }
};

TEST_F(Grabber, WithoutACameraCameraQueriesFail) {
    auto camera = Sensor(640, 480);
    camera.hasCamera = false;
    ASSERT_EQ(zthost::SetCamera(camera), 0);
    IZtGrabberProvider* g = Provider();
    ASSERT_NE(g, nullptr);

    int active = 42;
    SZtCameraDesc desc;
    double params[4] = {};
    double radians = 9.0;
    SZtGrabberFormatDesc format;
    EXPECT_EQ(g->SecGrabber_GetActive(&active), -6);
    EXPECT_EQ(g->CameraGet_WRP(0, &desc), -6);
    EXPECT_EQ(g->CameraAngleParamsGet(params), -6);
    EXPECT_EQ(g->CameraAngleSWGet(&radians), -6);
    EXPECT_EQ(g->CameraSettingsGet(&format), -6);
}

TEST_F(Grabber, RotationInDegreesPerChannelAndInRadians) {
    auto camera = Sensor(640, 480);
    camera.rotationDegrees = 90.0;
    camera.channelCount = 2;
    ASSERT_EQ(zthost::SetCamera(camera), 0);
    IZtGrabberProvider* g = Provider();
    ASSERT_NE(g, nullptr);

    double degrees = 0.0;
    ASSERT_EQ(g->Interp_Rotate_Get(1, &degrees), 0);
    EXPECT_DOUBLE_EQ(degrees, 90.0);
    ASSERT_EQ(g->Interp_Rotate_Get(2, &degrees), 0);
    EXPECT_EQ(g->Interp_Rotate_Get(3, &degrees), -5);

    double radians = 0.0;
    ASSERT_EQ(g->CameraAngleSWGet(&radians), 0);
    EXPECT_NEAR(radians, std::numbers::pi / 2.0, 1e-12);
}

TEST_F(Grabber, FormatFollowsTheRoiAndTheMirroring) {
    auto camera = Sensor(2048, 1024);
    camera.binningX = 2.0;
    camera.binningY = 2.0;
    camera.bitDepth = 12;
    camera.formatName = L"Bin 2x2";
    camera.angleParams = {1.0, 0.0, 0.0, -1.0};
    ASSERT_EQ(zthost::SetCamera(camera), 0);
    IZtGrabberProvider* g = Provider();
    ASSERT_NE(g, nullptr);

    SZtGrabberFormatDesc format;
    ASSERT_EQ(g->CameraSettingsGet(&format), 0);
    EXPECT_EQ(std::wstring(format.name), L"Bin 2x2");
    EXPECT_EQ(format.value.sensorRect.right, 2048);
    EXPECT_EQ(format.value.sensorRect.bottom, 1024);
    EXPECT_EQ(format.value.imageRect.right, 2048) << "no ROI: the image shows the whole sensor";
    EXPECT_EQ(format.value.imageRect.bottom, 1024);
    EXPECT_EQ(format.value.binningX, 2.0);
    EXPECT_EQ(format.value.bitDepth, 12);
    EXPECT_TRUE(format.value.flipY);
    double params[4] = {};
    ASSERT_EQ(g->CameraAngleParamsGet(params), 0);
    EXPECT_EQ(params[3], -1.0);

    const SZtRect roi{100, 50, 900, 650};
    ASSERT_EQ(g->CameraRoiSet(&roi), 0);
    ASSERT_EQ(g->CameraSettingsGet(&format), 0);
    EXPECT_EQ(format.value.imageRect.right, 2048) << "a ROI that is set but off changes nothing";
    ASSERT_EQ(g->CameraRoiEnable(true), 0);
    ASSERT_EQ(g->CameraSettingsGet(&format), 0);
    EXPECT_EQ(format.value.imageRect.left, 100);
    EXPECT_EQ(format.value.imageRect.top, 50);
    EXPECT_EQ(format.value.imageRect.right, 900);
    EXPECT_EQ(format.value.imageRect.bottom, 650);
    EXPECT_EQ(format.value.sensorRect.right, 2048);
    EXPECT_TRUE(zthost::Camera().roiOn);
    EXPECT_EQ(zthost::Camera().roi.right, 900);

    // Mirroring is read the way the plug-in reads the angle parameters: a difference of at most
    // 0.0001 is not a mirror.
    camera = zthost::Camera();
    camera.angleParams = {1.0, 0.0, 0.0, 1.00005};
    ASSERT_EQ(zthost::SetCamera(camera), 0);
    ASSERT_EQ(g->CameraSettingsGet(&format), 0);
    EXPECT_FALSE(format.value.flipY);
}

TEST_F(Grabber, RoiIsClippedToTheSensorAndRefusedOffIt) {
    ASSERT_EQ(zthost::SetCamera(Sensor(640, 480)), 0);
    IZtGrabberProvider* g = Provider();
    ASSERT_NE(g, nullptr);

    EXPECT_EQ(g->CameraRoiEnable(true), -4) << "no ROI was ever set";
    SZtRect roi;
    // Reaching past the sensor, as a region worked out on a binned image may: the part on it.
    const SZtRect reaching{-2, 20, 642, 483};
    ASSERT_EQ(g->CameraRoiSet(&reaching), 0);
    ASSERT_EQ(g->CameraRoiGet(&roi), 0);
    EXPECT_EQ((std::array{roi.left, roi.top, roi.right, roi.bottom}),
              (std::array{0, 20, 640, 480}));
    const SZtRect good{10, 20, 110, 220};
    ASSERT_EQ(g->CameraRoiSet(&good), 0);
    for (const SZtRect bad :
         {SZtRect{-100, 0, -1, 100}, SZtRect{640, 0, 700, 100}, SZtRect{0, 480, 100, 500},
          SZtRect{50, 50, 50, 100}, SZtRect{60, 50, 40, 100}}) {
        EXPECT_EQ(g->CameraRoiSet(&bad), -4)
            << bad.left << "," << bad.top << "," << bad.right << "," << bad.bottom;
    }
    EXPECT_EQ(g->CameraRoiSet(nullptr), -4);
    ASSERT_EQ(g->CameraRoiGet(&roi), 0);
    EXPECT_EQ(roi.left, 10);
    EXPECT_EQ(roi.bottom, 220);
    ASSERT_EQ(g->CameraRoiEnable(true), 0);
    bool on = false;
    ASSERT_EQ(g->CameraRoiIsOn(&on), 0);
    EXPECT_TRUE(on);
    ASSERT_EQ(g->CameraRoiEnable(false), 0);
    ASSERT_EQ(g->CameraRoiIsOn(&on), 0);
    EXPECT_FALSE(on);
    ASSERT_EQ(g->CameraRoiGet(&roi), 0);
    EXPECT_EQ(roi.right, 110) << "switching the ROI off keeps it";

    // A set-up with the ROI on beyond the sensor is refused and keeps the camera there was.
    auto camera = Sensor(320, 240);
    camera.roiOn = true;
    camera.roi = SZtRect{0, 0, 400, 100};
    EXPECT_EQ(zthost::SetCamera(camera), -4);
    EXPECT_EQ(zthost::Camera().sensorWidth, 640);
}

}  // namespace
