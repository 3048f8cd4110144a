// The host program's simulated camera looking at the simulated SDK library's DMD: a frame exposed
// through the SDK's C interface appears in the camera picture where the optics put it.
#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "atcore.h"
#include "fake_atcore_control.h"
#include "simulateddmd.h"
#include "zt/zt_acquisition.h"
#include "zt/zt_util.h"
#include "zthost/microscope.h"
#include "zthost/optics.h"
#include "zthost/zthost.h"

namespace {

class SimulatedCameraSdk : public ::testing::Test {
protected:
    void SetUp() override {
        zthost::ResetForTests();
        fake_atcore::Reset();
        zthost::CameraSetup camera;
        camera.sensorWidth = 1000;
        camera.sensorHeight = 800;
        ASSERT_EQ(zthost::SetCamera(camera), 0);
        zthost::OpticsSetup optics;
        optics.dmdToSensor = {1.0, 0.0, 100.0, 0.0, 1.0, 100.0};
        optics.background = 0.0;
        optics.offset = 0.0;
        optics.shotNoise = false;
        optics.readNoise = 0.0;
        ASSERT_EQ(zthost::SetOptics(optics), 0);
        SimulatedDmd(VEROVE_FAKE_SDK_DIR).ConnectCamera();
    }
    void TearDown() override {
        fake_atcore::Reset();
        zthost::ResetForTests();
    }

    // The sum of the picture's values and their centre of mass (pixel centres at + 0.5).
    static std::array<double, 3> Light() {
        CZtGrabberSample sample;
        EXPECT_EQ(sample.Capture(), 0);
        const SZtPicBuf& picture = sample.GetPicture();
        double sum = 0.0, sx = 0.0, sy = 0.0;
        for (std::uint32_t y = 0; y < picture.height; ++y) {
            for (std::uint32_t x = 0; x < picture.width; ++x) {
                const double v = CZtPicBufAPI::GetValue(&picture, x, y);
                sum += v;
                sx += (x + 0.5) * v;
                sy += (y + 0.5) * v;
            }
        }
        return {sum, sx / sum, sy / sum};
    }
};

}  // namespace

TEST_F(SimulatedCameraSdk, CameraSeesTheFrameTheSdkExposesWhileItExposes) {
    EXPECT_EQ(Light()[0], 0.0) << "nothing exposed yet: a dark DMD";

    AT_H handle = AT_HANDLE_UNINITIALISED;
    ASSERT_EQ(AT_InitialiseLibrary(), AT_SUCCESS);
    ASSERT_EQ(AT_Open(0, &handle), AT_SUCCESS);
    ASSERT_EQ(AT_SetEnumString(handle, L"PixelEncoding", L"Mono1"), AT_SUCCESS);
    ASSERT_EQ(AT_SetEnumString(handle, L"OperationMode", L"Live"), AT_SUCCESS);
    ASSERT_EQ(AT_SetEnumString(handle, L"TriggerMode", L"InternalSoftware"), AT_SUCCESS);
    // Mirrors 300..303 x 200..201 on: their light is centred on the DMD point (302, 201), which
    // one-to-one optics put on sensor point (402, 301).
    std::vector<AT_U8> frame(800 * 600, 0);
    for (int y = 200; y < 202; ++y) {
        for (int x = 300; x < 304; ++x) {
            frame[y * 800 + x] = 1;
        }
    }
    ASSERT_EQ(AT_QueueBuffer(handle, frame.data(), static_cast<int>(frame.size())), AT_SUCCESS);
    const SimulatedDmd dmd(VEROVE_FAKE_SDK_DIR);
    EXPECT_EQ(dmd.LastExposeTime(), -1.0);
    const double before = ZT_GetTimeCounter();
    ASSERT_EQ(AT_Command(handle, L"Expose"), AT_SUCCESS);
    const double after = ZT_GetTimeCounter();
    // On the host's clock, within the call (the two clocks are read a moment apart).
    EXPECT_GE(dmd.LastExposeTime(), before - 0.05);
    EXPECT_LE(dmd.LastExposeTime(), after + 0.05);
    zthost::MirrorFrame shown;
    std::uint64_t counter = 0;
    ASSERT_TRUE(dmd.ShownFrame(&shown, &counter));
    EXPECT_EQ(counter, fake_atcore::ShownFrame().counter);
    ASSERT_EQ(shown.levels.size(), 800u * 600u);
    EXPECT_EQ(shown.levels[200 * 800 + 300], 255);
    EXPECT_EQ(shown.levels[199 * 800 + 300], 0);

    const std::array<double, 3> lit = Light();
    EXPECT_NEAR(lit[0], 8 * 1000.0, 8.0);
    EXPECT_NEAR(lit[1], 402.0, 0.05);
    EXPECT_NEAR(lit[2], 301.0, 0.05);

    ASSERT_EQ(AT_Command(handle, L"Abort"), AT_SUCCESS);
    EXPECT_EQ(Light()[0], 0.0) << "light reaches the sample only while the DMD exposes";
    ASSERT_TRUE(dmd.ShownFrame(&shown, &counter));
    EXPECT_TRUE(shown.levels.empty());
    ASSERT_EQ(AT_Close(handle), AT_SUCCESS);
    ASSERT_EQ(AT_FinaliseLibrary(), AT_SUCCESS);
}
