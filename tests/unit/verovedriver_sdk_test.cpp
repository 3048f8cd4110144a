// DMD driver on the real SDK path: the calls fake_atcore records, the frames it shows, upload
// faults, illumination-sequence programming and the SDK's exposure-end callback.
#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "atcore.h"
#include "cztpluginverove.h"
#include "cztverovedriver.h"
#include "cztveroveproxy.h"
#include "driver_owner_double.h"
#include "fake_atcore_control.h"
#include "plugin_host.h"
#include "zthost/camera_control.h"
#include "zthost/microscope.h"
#include "zthost/settings_store.h"
#include "zthost/zthost.h"

namespace {

// One SDK call as the tests compare it: function, feature and value written or read.
struct SCall {
    std::string function;
    std::wstring feature;
    std::wstring value;
    bool operator==(const SCall&) const = default;
};

std::ostream& operator<<(std::ostream& out, const SCall& call) {
    return out << call.function << "(" << CZtStringW(call.feature).ToUtf8() << ", "
               << CZtStringW(call.value).ToUtf8() << ")";
}

// The driver's own calls: the reads of "IsExposing" that its event callback makes on the
// device's thread interleave at any point and are left out.
std::vector<SCall> Calls() {
    std::vector<SCall> calls;
    for (const fake_atcore::CallRecord& record : fake_atcore::Calls()) {
        if (record.function != "AT_GetBool" || record.feature != L"IsExposing") {
            calls.push_back({record.function, record.feature, record.value});
        }
    }
    return calls;
}

SCall Cmd(const wchar_t* command) {
    return {"AT_Command", command, L""};
}

SCall Enum(const wchar_t* feature, const wchar_t* value) {
    return {"AT_SetEnumString", feature, value};
}

SCall Int(const wchar_t* feature, int value) {
    return {"AT_SetInt", feature, std::to_wstring(value)};
}

}  // namespace

class VeroveDriverSdk : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(ResetPluginHost(m_dir));
        zthost::PrependSearchFolder(CZtStringW::FromUtf8(VEROVE_FAKE_SDK_DIR).Str());
        zthost::CameraSetup camera;
        camera.name = L"Cam1";
        ASSERT_EQ(zthost::SetCamera(camera), 0);
        m_driver = std::make_unique<CZtVeroveDriver>(&m_owner);
        m_owner.driver = m_driver.get();
    }

    void TearDown() override {
        m_owner.driver = nullptr;
        m_driver.reset();
        EXPECT_FALSE(fake_atcore::IsInitialised()) << "every library reference was given back";
        VerovePluginState().hostContext = nullptr;
        zthost::ResetForTests();
    }

    void Connect() { ASSERT_EQ(m_driver->Connect(0), 0); }

    // What the pattern renders to, the way the driver asks for it.
    std::vector<std::uint8_t> Rendered(int id, std::uint32_t bitDepth, bool packed) {
        CZtPattern copy;
        {
            CZtLock lock(m_driver->GetBufferLock());
            copy = *m_driver->GetPatterns().FindById(static_cast<std::uint32_t>(id));
        }
        SZtGrabberFormatDesc format;
        EXPECT_EQ(m_driver->GetCurrentFormat(&format), 0);
        std::vector<std::uint8_t> frame(800 * 600 / (packed ? 8 : 1));
        EXPECT_EQ(copy.GetBitmap(frame.data(), bitDepth, packed, &format.value,
                                 m_owner.settings.calibration.get()),
                  0);
        return frame;
    }

    // The device's change to a grey-scale bit depth.
    void SetBitDepth(int depth) {
        m_owner.settings.bitDepth = depth;
        ASSERT_EQ(m_driver->SetPixelEncoding(depth < 2), 0);
    }

    QTemporaryDir m_dir;
    DriverOwnerDouble m_owner;
    std::unique_ptr<CZtVeroveDriver> m_driver;
};

// ---- Connect -----------------------------------------------------------------------------------

TEST_F(VeroveDriverSdk, ConnectChecksTheDeviceAndQueuesAPackedBuffer) {
    fake_atcore::SetDeviceString(0, L"FirmwareVersion", L"9.8.7");
    fake_atcore::SetDeviceString(0, L"ControllerFirmwareVersion", L"1.2.3");
    Connect();
    const std::vector<SCall> expected = {
        {"AT_InitialiseLibrary", L"", L""},
        {"AT_Open", L"", L"0"},
        {"AT_GetString", L"DeviceType", L"Verove III"},
        {"AT_GetInt", L"SensorWidth", L"800"},
        {"AT_GetInt", L"SensorHeight", L"600"},
        {"AT_RegisterFeatureCallback", L"IsExposing", L""},
        {"AT_GetString", L"FirmwareVersion", L"9.8.7"},
        {"AT_GetString", L"ControllerFirmwareVersion", L"1.2.3"},
        Enum(L"PixelEncoding", L"Mono1Packed"),
        {"AT_GetInt", L"ImageSizeBytes", L"60000"},
        {"AT_QueueBuffer", L"", L"60000"},
    };
    EXPECT_EQ(Calls(), expected);
    EXPECT_EQ(m_driver->GetHandle(), 100);
    EXPECT_EQ(m_driver->GetBufferSize(), 60000);
    EXPECT_TRUE(fake_atcore::IsInitialised()) << "the open device holds the library";
    EXPECT_EQ(m_owner.settings.firmwareVersion, L"9.8.7");
    EXPECT_EQ(m_owner.settings.controllerFirmwareVersion, L"1.2.3");
    EXPECT_EQ(m_owner.settings.sdkVersion, L"3.15.30000.0");

    ASSERT_EQ(m_driver->Disconnect(), 0);
    EXPECT_EQ(fake_atcore::OpenDeviceCount(), 0);
    EXPECT_FALSE(fake_atcore::IsInitialised());
}

TEST_F(VeroveDriverSdk, ConnectRefusesOtherDevices) {
    fake_atcore::SetDeviceString(0, L"DeviceType", L"Verove II");
    EXPECT_EQ(m_driver->Connect(0), -10);
    EXPECT_FALSE(m_driver->IsConnected());
    EXPECT_EQ(fake_atcore::OpenDeviceCount(), 0);
    EXPECT_FALSE(fake_atcore::IsInitialised());
}

// ---- Exposure ----------------------------------------------------------------------------------

TEST_F(VeroveDriverSdk, BinaryPatternsGoLiveThroughTheQueuedBuffer) {
    Connect();
    fake_atcore::ClearCalls();
    ASSERT_EQ(m_driver->ExposePattern(2, false), 0);
    EXPECT_EQ(Calls(),
              (std::vector<SCall>{Enum(L"OperationMode", L"Live"),
                                  Enum(L"TriggerMode", L"InternalSoftware"), Cmd(L"Expose")}))
        << "no upload command: the frame is in the queued buffer";
    fake_atcore::MirrorFrame shown = fake_atcore::ShownFrame();
    EXPECT_EQ(shown.encoding, L"Mono1Packed");
    EXPECT_TRUE(shown.exposing);
    EXPECT_EQ(shown.bytes, Rendered(2, 1, true)) << "Grid";

    fake_atcore::ClearCalls();
    ASSERT_EQ(m_driver->ExposePattern(1, false), 0);
    EXPECT_EQ(Calls(), (std::vector<SCall>{Cmd(L"Abort"), Cmd(L"Expose")}));
    shown = fake_atcore::ShownFrame();
    EXPECT_EQ(shown.bytes, Rendered(1, 1, true)) << "Full ON";
    EXPECT_EQ(shown.bytes, std::vector<std::uint8_t>(60000, 0xFF));
}

TEST_F(VeroveDriverSdk, GreyScalePatternsRunAsBitPlaneSequences) {
    Connect();
    ASSERT_EQ(m_driver->ExposePattern(1, false), 0);
    const wchar_t* encodings[] = {L"4BitDIP", L"6BitDIP", L"8BitDIP"};
    for (int depth : {6, 4, 8}) {
        SCOPED_TRACE(depth);
        fake_atcore::ClearCalls();
        SetBitDepth(depth);
        EXPECT_EQ(Calls(), (std::vector<SCall>{Enum(L"PixelEncoding", L"Mono1"),
                                               {"AT_GetInt", L"ImageSizeBytes", L"480000"},
                                               {"AT_QueueBuffer", L"", L"480000"}}));
        fake_atcore::ClearCalls();
        ASSERT_EQ(m_driver->ExposePattern(2, true), 0);
        std::vector<SCall> expected = {Cmd(L"Abort")};
        if (depth == 6) {
            expected.push_back(Enum(L"TriggerMode", L"InternalExpose"));
        }
        const std::vector<SCall> rest = {
            Cmd(L"Abort"),
            Cmd(L"ClearSequenceMemory"),
            Cmd(L"ClearFrameMemory"),
            Int(L"SequenceStartIndex", 0),
            Int(L"SequenceLoopLength", depth),
            {"AT_SetFloat", L"GrayScaleExposureTime", L"0.05"},
            Enum(L"GrayScaleSequenceEncoding", encodings[(depth - 4) / 2]),
            Cmd(L"UploadGrayScaleImage")};
        expected.insert(expected.end(), rest.begin(), rest.end());
        if (depth == 6) {
            expected.push_back(Enum(L"OperationMode", L"ContinuousFrameSequence"));
        }
        expected.push_back(Cmd(L"Expose"));
        EXPECT_EQ(Calls(), expected);
        const fake_atcore::MirrorFrame shown = fake_atcore::ShownFrame();
        EXPECT_EQ(shown.encoding, encodings[(depth - 4) / 2]);
        EXPECT_EQ(shown.bytes, Rendered(2, static_cast<std::uint32_t>(depth), false));
        EXPECT_EQ(fake_atcore::SequenceEvents().size(), static_cast<size_t>(depth));
    }
}

TEST_F(VeroveDriverSdk, ConcurrentExposuresEndOnARenderedFrame) {
    Connect();
    auto expose = [this](int first, int second) {
        for (int i = 0; i < 10; ++i) {
            m_driver->ExposePattern(i % 2 ? first : second, true);
        }
    };
    std::thread other(expose, 1, 2);
    expose(2, 0);
    other.join();
    int current = 0;
    {
        CZtLock lock(m_driver->GetBufferLock());
        current = m_driver->GetPatterns().GetCurrentId();
    }
    EXPECT_EQ(fake_atcore::ShownFrame().bytes, Rendered(current, 1, true));
}

// ---- Illumination sequence ---------------------------------------------------------------------

TEST_F(VeroveDriverSdk, SequenceProgrammingUploadsFramesAndEvents) {
    Connect();
    SetBitDepth(4);
    ASSERT_EQ(m_driver->ExposePattern(2, false), 0);

    // The device shows "Full OFF" and sets bit depth 1 before it programs the sequence.
    ASSERT_EQ(m_driver->ExposePattern(0, false), 0);
    SetBitDepth(1);
    fake_atcore::ClearCalls();
    std::vector<CZtPattern*> patterns;
    {
        CZtLock lock(m_driver->GetBufferLock());
        patterns = {m_driver->GetPatterns().FindById(1), m_driver->GetPatterns().FindById(2)};
    }
    const std::vector<SZtVeroveSequenceEvent> events = {{0, 1, 2, 0.01, 0.0}, {1, 1, 1, 0.02, 0.5}};
    ASSERT_EQ(m_driver->ProgramIlluminationSequence(patterns, events, 2), 0);
    EXPECT_TRUE(m_driver->GetSequenceMode());

    std::vector<SCall> expected = {Cmd(L"Abort"),
                                   Cmd(L"ClearSequenceMemory"),
                                   Cmd(L"ClearFrameMemory"),
                                   Enum(L"OperationMode", L"FrameSequence"),
                                   Enum(L"TriggerMode", L"ExternalExpose"),
                                   {"AT_SetBool", L"OverlapMode", L"0"},
                                   Cmd(L"UploadFrame"),
                                   Cmd(L"UploadFrame")};
    for (const wchar_t* times : {L"0.01", L"0.02"}) {
        const bool first = times[3] == L'1';
        expected.push_back(Int(L"FrameIndex", first ? 0 : 1));
        expected.push_back(Int(L"FrameCount", 1));
        expected.push_back(Int(L"FrameCycleCount", first ? 2 : 1));
        expected.push_back({"AT_SetFloat", L"SequenceExposureTime", times});
        expected.push_back({"AT_SetFloat", L"SequenceGapTime", first ? L"0" : L"0.5"});
        expected.push_back(Cmd(L"UploadSequenceEvent"));
    }
    const std::vector<SCall> loop = {Int(L"SequenceStartIndex", 0), Int(L"SequenceLoopCount", 3),
                                     Int(L"SequenceLoopLength", 2), Cmd(L"Expose")};
    expected.insert(expected.end(), loop.begin(), loop.end());
    EXPECT_EQ(Calls(), expected);

    const std::vector<fake_atcore::MirrorFrame> frames = fake_atcore::FrameMemory();
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[0].encoding, L"Mono1Packed");
    EXPECT_EQ(frames[0].bytes, Rendered(1, 1, true));
    EXPECT_EQ(frames[1].bytes, Rendered(2, 1, true));
    const std::vector<fake_atcore::SequenceEvent> uploaded = fake_atcore::SequenceEvents();
    ASSERT_EQ(uploaded.size(), 2u);
    EXPECT_EQ(uploaded[1].frameIndex, 1);
    EXPECT_DOUBLE_EQ(uploaded[1].gapTime, 0.5);

    // The first event waits for its trigger, then shows frame 0.
    const std::uint64_t counter = fake_atcore::ShownFrame().counter;
    fake_atcore::Trigger();
    ASSERT_TRUE(fake_atcore::WaitForFrameCounter(counter + 1, 10000));
    EXPECT_EQ(fake_atcore::ShownFrame().bytes, Rendered(1, 1, true));

    fake_atcore::ClearCalls();
    ASSERT_EQ(m_driver->LeaveIlluminationSequence(), 0);
    EXPECT_FALSE(m_driver->GetSequenceMode());
    EXPECT_EQ(Calls(),
              (std::vector<SCall>{Cmd(L"Abort"), Cmd(L"Abort"), Cmd(L"ClearSequenceMemory"),
                                  Cmd(L"ClearFrameMemory"), Enum(L"OperationMode", L"Live"),
                                  Enum(L"TriggerMode", L"InternalSoftware")}));
    EXPECT_TRUE(fake_atcore::FrameMemory().empty());
    EXPECT_TRUE(fake_atcore::SequenceEvents().empty());
}

TEST_F(VeroveDriverSdk, FullDeviceMemoryShowsOnlyAsFailedUploads) {
    Connect();
    std::vector<CZtPattern*> patterns;
    {
        CZtLock lock(m_driver->GetBufferLock());
        patterns = {m_driver->GetPatterns().FindById(1), m_driver->GetPatterns().FindById(2)};
    }
    const std::vector<SZtVeroveSequenceEvent> events(3, SZtVeroveSequenceEvent{0, 1, 1, 0.01, 0});

    // Two events fit: the third is refused and the sequence still starts.
    fake_atcore::SetMemoryCapacity(4, 2);
    EXPECT_EQ(m_driver->ProgramIlluminationSequence(patterns, events, 0), 0);
    EXPECT_EQ(fake_atcore::SequenceEvents().size(), 2u);
    ASSERT_EQ(m_driver->LeaveIlluminationSequence(), 0);

    // One frame fits: the second upload fails and nothing more is sent.
    fake_atcore::SetMemoryCapacity(1, 16);
    fake_atcore::ClearCalls();
    EXPECT_EQ(m_driver->ProgramIlluminationSequence(patterns, events, 0), -1);
    EXPECT_EQ(Calls().back(), Cmd(L"UploadFrame"));
    EXPECT_EQ(fake_atcore::FrameMemory().size(), 1u);
}
