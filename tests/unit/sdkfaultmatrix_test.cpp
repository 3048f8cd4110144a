// The SDK fault matrix: every SDK call an operation of the device makes, failing once and failing
// for good, by error code and by exception. Each cell checks the operation's status and log line
// against the table below and what the mirrors show: what the operation asked for, or dark, never
// anything else. The observed matrix is written to the build folder (fault-matrix.md).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <QSignalSpy>
#include <QTemporaryDir>
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "atcore.h"
#include "cztautocalibration.h"
#include "cztautocalibrationdialog.h"
#include "cztpluginverove.h"
#include "cztstimulationdeviceverove.h"
#include "cztverovedriver.h"
#include "cztveroveproxy.h"
#include "fake_atcore_control.h"
#include "plugin_host.h"
#include "shown_mirrors.h"
#include "verove_device.h"
#include "zt/zt_dmd.h"
#include "zt/zt_roi.h"
#include "zthost/microscope.h"
#include "zthost/optics.h"
#include "zthost/zthost.h"

// The plug-in's exports that connect and disconnect its device and construct it.
extern "C" bool Connect(bool connect, bool simulator, std::uint32_t brand, const wchar_t* guiName,
                        wchar_t* uniqueName, bool* hwConflict);
extern "C" IZtInterface* ZT_ConstructorForCZtStimulationDeviceVerove(const char* file, int line);

namespace {

constexpr int kInjectedCode = AT_ERR_COMM;
constexpr int kForGood = 1000000;

// What the mirrors show after an operation.
enum class EShown { Asked, Dark, Other };

const char* Text(EShown shown) {
    switch (shown) {
        case EShown::Asked:
            return "asked";
        case EShown::Dark:
            return "dark";
        default:
            return "OTHER";
    }
}

// The fake SDK's unit in a fresh reference host, the device the plug-in connects on it as the
// host asks it to, and what the operations need.
class CWorld {
public:
    CWorld() {
        ResetSmallDmdHost(m_dir);
        zthost::OpticsSetup optics;
        optics.dmdToSensor = {1.0, 0.0, 0.0, 0.0, 1.0, 0.0};
        zthost::SetOptics(optics);
        zthost::SetMirrorFrameSource(ShownMirrors);
        // The class the plug-in's connect makes its device of, as the host registers it.
        SZtClassRecord record;
        record.className = L"CZtStimulationDeviceVerove";
        record.parents = {L"IZtStimulationDevice", L"IZtStimulationDeviceEx"};
        zthost::RegisterClass(record, &ZT_ConstructorForCZtStimulationDeviceVerove);
    }

    ~CWorld() {
        fake_atcore::ClearFaults();
        if (m_device) {
            m_device->OnAutocalibrationEnd(false);
        }
        // The dialog tells the device when it goes: before the plug-in lets go of the device.
        m_receiver.reset();
        if (m_device) {
            Disconnect();
        }
        zthost::ResetForTests();
        VerovePluginState().hostContext = nullptr;
    }

    CZtStimulationDeviceVerove& Device() { return *m_device; }
    CZtVeroveDriver* Driver() { return m_device->GetDriver(); }

    // The plug-in's connect: it makes and registers the device, which it keeps.
    bool Connect() {
        wchar_t name[ZT_MAX_PATH] = L"";
        bool conflict = false;
        if (!::Connect(true, false, 0, L"", name, &conflict)) {
            return false;
        }
        m_name = name;
        m_device = VeroveFindDevice(CZtStimulationDeviceManager::GetInstance(), name);
        return m_device != nullptr;
    }

    bool Disconnect() {
        std::wstring name = m_name;
        m_device = nullptr;
        return ::Connect(false, false, 0, L"", name.data(), nullptr);
    }

    int SetAreas() { return SetSmallDmdAreas(m_device); }

    int Begin(std::uint64_t mask) {
        SZtStimulationRequest request;
        request.runMode = 1;
        request.durationMs = 10.0;
        request.groupMask = mask;
        return m_device->StimulationBegin(&request);
    }

    int SetSequence() {
        m_device->GetSettings().externalTriggerSet = true;
        SZtIlluminationSequence sequence;
        sequence.steps = {{1, 1, 10.0, 0.0}, {3, 2, 10.0, 5.0}};
        return m_device->SetIlluminationSequence(&sequence);
    }

    // The frame pattern id renders to at depth, as the driver asks for it.
    std::vector<std::uint8_t> Rendered(int id, int depth) {
        CZtVeroveDriver* driver = Driver();
        if (!driver) {
            return {};
        }
        CZtPattern copy;
        {
            CZtLock lock(driver->GetBufferLock());
            const CZtPattern* pattern =
                driver->GetPatterns().FindById(static_cast<std::uint32_t>(id));
            if (!pattern) {
                return {};
            }
            copy = *pattern;
        }
        SZtGrabberFormatDesc format;
        driver->GetCurrentFormat(&format);
        std::vector<std::uint8_t> frame(kSmallDmdWidth * kSmallDmdHeight / (depth == 1 ? 8 : 1));
        copy.SetDitheringMethod(static_cast<std::uint32_t>(m_device->GetDitheringMethod()));
        copy.GetBitmap(frame.data(), static_cast<std::uint32_t>(depth), depth == 1, &format.value,
                       m_device->GetCalibrationData());
        return frame;
    }

    // Init and Run; the run's result once the worker says it has ended, 1 when it never does.
    int Calibrate() {
        m_receiver = std::make_unique<CZtAutocalibrationDialog>(m_device);
        m_device->SetAutocalibrationDialog(m_receiver.get());
        QSignalSpy ended(m_receiver.get(), &CZtAutocalibrationDialog::NotifyCalibrationRunEnded);
        if (m_device->OnAutocalibrationInit() != 0 || m_device->AutocalibrationRun() != 0) {
            return 2;
        }
        if (ended.count() == 0 && !ended.wait(600000)) {
            return 1;
        }
        return ended.at(0).at(0).toInt();
    }

private:
    QTemporaryDir m_dir;
    CZtStimulationDeviceVerove* m_device = nullptr;  // the plug-in's, while connected
    std::wstring m_name;
    std::unique_ptr<CZtAutocalibrationDialog> m_receiver;
};

bool AllDark(const fake_atcore::MirrorFrame& frame) {
    return std::all_of(frame.levels.begin(), frame.levels.end(),
                       [](std::uint8_t level) { return level == 0; });
}

// The lit mirrors form one square of the auto-calibration, 10 x 10 where the DMD has room.
bool IsSquare(const fake_atcore::MirrorFrame& frame) {
    int left = frame.width, top = frame.height, right = -1, bottom = -1, count = 0;
    for (int y = 0; y < frame.height; ++y) {
        for (int x = 0; x < frame.width; ++x) {
            if (frame.levels[static_cast<size_t>(y * frame.width + x)] != 0) {
                left = std::min(left, x);
                top = std::min(top, y);
                right = std::max(right, x);
                bottom = std::max(bottom, y);
                ++count;
            }
        }
    }
    return right - left == 9 && bottom - top == 9 && count == 100;
}

// One operation of the device: how a fresh device gets ready for it, the operation, and what it
// asks the mirrors to show.
struct SOperation {
    const char* name;
    std::function<void(CWorld&)> prepare;
    std::function<int(CWorld&)> run;
    std::function<bool(CWorld&, const fake_atcore::MirrorFrame&)> asked;
    // The operation's exposure end reaches the SDK's callback, whose read it checks.
    bool callbackRead = false;
    // What the operation measured holds together; false when a frame it saw was not the one it
    // had asked for.
    std::function<bool(CWorld&)> consistent = [](CWorld&) { return true; };
};

// The frame and its encoding: a grey-scale frame shown in another encoding is not what was asked.
bool ShowsPattern(CWorld& world, const fake_atcore::MirrorFrame& frame, int id, int depth) {
    const std::wstring encoding = depth == 1 ? L"Mono1Packed" : std::to_wstring(depth) + L"BitDIP";
    return frame.encoding == encoding && frame.bytes == world.Rendered(id, depth);
}

// The operation asks for pattern id at depth.
std::function<bool(CWorld&, const fake_atcore::MirrorFrame&)> Shows(int id, int depth) {
    return [id, depth](CWorld& world, const fake_atcore::MirrorFrame& frame) {
        return ShowsPattern(world, frame, id, depth);
    };
}

// Connect, disconnect and the exposure end ask for no frame: dark is all they may leave.
const auto kNothingAsked = [](CWorld&, const fake_atcore::MirrorFrame&) { return false; };

void ConnectWithAreas(CWorld& world) {
    EXPECT_TRUE(world.Connect());
    EXPECT_EQ(world.SetAreas(), 0);
    EXPECT_EQ(world.Device().SetActivePatternId(2), 0);
}

// Full ON at the depth: a frame left from before would be lit.
void ShowFullOn(CWorld& world, int depth) {
    EXPECT_TRUE(world.Connect());
    EXPECT_EQ(world.Device().SetBitDepth(depth, false), 0);
    EXPECT_EQ(world.Device().SetActivePatternId(1), 0);
}

// A sequence of Full ON and S1, prepared while Grid shows: its grey-scale bit planes and events,
// left in the device's memories from before, would be lit where the sequence's frames belong.
void ProgramSequence(CWorld& world) {
    ConnectWithAreas(world);
    EXPECT_EQ(world.Device().SetBitDepth(4, false), 0);
    EXPECT_EQ(world.Device().SetBitDepth(1, false), 0);
    EXPECT_EQ(world.SetSequence(), 0);
}

// The sequence waits for its trigger: one shows the first frame it reaches.
void TriggerSequence() {
    const fake_atcore::MirrorFrame before = fake_atcore::ShownFrame();
    fake_atcore::Trigger();
    fake_atcore::WaitForFrameCounter(before.counter + 1, 5000);
}

// Every pair the auto-calibration collected is where the camera sees that square (1:1 optics).
bool PairsMatch(CWorld& world) {
    const CZtAutocalibration& run = world.Device().GetAutocalibration();
    const std::vector<SZtPointD>& dmd = run.GetDmdPoints();
    const std::vector<SZtPointD>& camera = run.GetCameraPoints();
    for (size_t i = 0; i < dmd.size() && i < camera.size(); ++i) {
        if (std::abs(dmd[i].x - camera[i].x) > 0.5 || std::abs(dmd[i].y - camera[i].y) > 0.5) {
            return false;
        }
    }
    return dmd.size() == camera.size();
}

const std::vector<SOperation>& Operations() {
    static const std::vector<SOperation> operations = {
        {"connect", [](CWorld&) {}, [](CWorld& world) { return world.Connect() ? 0 : -1; },
         kNothingAsked},
        {"expose", [](CWorld& world) { ShowFullOn(world, 1); },
         [](CWorld& world) { return world.Device().SetActivePatternId(2); }, Shows(2, 1)},
        {"expose grey-scale", [](CWorld& world) { ShowFullOn(world, 6); },
         [](CWorld& world) { return world.Device().SetActivePatternId(2); }, Shows(2, 6)},
        {"bit depth", ConnectWithAreas,
         [](CWorld& world) { return world.Device().SetBitDepth(6, false); }, Shows(2, 6)},
        {"stimulation begin", ConnectWithAreas, [](CWorld& world) { return world.Begin(0x1); },
         Shows(3, 1)},
        {"stimulation end",
         [](CWorld& world) {
             ConnectWithAreas(world);
             EXPECT_EQ(world.Begin(0x2), 0);
         },
         [](CWorld& world) {
             double start = 0.0;
             double end = 0.0;
             return world.Device().StimulationEnd(&start, &end, 1);
         },
         Shows(2, 1)},
        {"manual shot", ConnectWithAreas,
         [](CWorld& world) {
             world.Device().ManualShotBegin(0x4, 0.0);
             return world.Device().IsManualShotActive() ? 0 : -1;
         },
         Shows(5, 1)},
        {"sequence programming", ProgramSequence,
         [](CWorld& world) {
             const int result = world.Device().SetOperationMode(5);
             if (result == 0) {
                 TriggerSequence();
             }
             return result;
         },
         [](CWorld& world, const fake_atcore::MirrorFrame& frame) {
             return ShowsPattern(world, frame, 1, 1) || ShowsPattern(world, frame, 3, 1);
         }},
        {"sequence leaving",
         [](CWorld& world) {
             ProgramSequence(world);
             EXPECT_EQ(world.Device().SetOperationMode(5), 0);
         },
         [](CWorld& world) { return world.Device().SetOperationMode(0); }, Shows(2, 1)},
        {"auto-calibration", [](CWorld& world) { EXPECT_TRUE(world.Connect()); },
         [](CWorld& world) { return world.Calibrate(); },
         [](CWorld&, const fake_atcore::MirrorFrame& frame) { return IsSquare(frame); }, false,
         PairsMatch},
        {"disconnect", ConnectWithAreas, [](CWorld& world) { return world.Disconnect() ? 0 : -1; },
         kNothingAsked},
        {"exposure end",
         [](CWorld& world) {
             EXPECT_TRUE(world.Connect());
             CZtVeroveDriver* driver = world.Driver();
             EXPECT_EQ(driver->SetTriggerMode(0), 0);
             EXPECT_EQ(CZtVeroveProxy::Instance().SetExposureTime(driver->GetHandle(), 0.005), 0);
             // Idle, with every report delivered: the run's rise and end are the next two.
             EXPECT_EQ(driver->StopPattern(), 0);
             EXPECT_TRUE(fake_atcore::WaitForExposureEnd(10000));
             driver->GetExposureEndEvent().Reset();
         },
         [](CWorld& world) {
             CZtVeroveDriver* driver = world.Driver();
             const int started = driver->StartPattern();
             fake_atcore::WaitForExposureEnd(10000);
             if (started != 0) {
                 return started;
             }
             return driver->GetExposureEndEvent().Wait(0) == ZT_WAIT_OBJECT_0 ? 0 : -1;
         },
         kNothingAsked, true},
    };
    return operations;
}

// ---- The expected matrix -----------------------------------------------------------------------

struct SOutcome {
    int status;
    EShown shown;
    // The line the failure adds to the log beyond the SDK proxy's own error line, as
    // "Class::Method: message"; null where the proxy's line is all there is to say.
    const wchar_t* line = nullptr;
};

constexpr int kAsOnce = -1000;

// One SDK call failing ("function feature"; "" for the operation without a fault): the answer to
// its failing once, and to its failing for good where that differs.
struct SCell {
    const char* call;
    int status;
    EShown shown;
    const wchar_t* line = nullptr;
    SOutcome forGood = {kAsOnce, EShown::Other, nullptr};

    SOutcome Once() const { return {status, shown, line}; }
    SOutcome ForGood() const {
        return forGood.status == kAsOnce
                   ? Once()
                   : SOutcome{forGood.status, forGood.shown, forGood.line ? forGood.line : line};
    }
};

constexpr EShown kAsked = EShown::Asked;
constexpr EShown kDark = EShown::Dark;

constexpr const wchar_t* kNoDevice = L"Connect: Could not connect to any of 0 devices.";
constexpr const wchar_t* kExposeFailed = L"CZtVeroveDriver::ExposePattern: Failed to call Expose";
constexpr const wchar_t* kExposeClearFailed =
    L"CZtVeroveDriver::ExposePattern: Failed to clear device memory.";
constexpr const wchar_t* kEventNotSet =
    L"CZtVeroveDriver::ProgramIlluminationSequence: Failed to set sequence event 0, not uploaded.";
constexpr const wchar_t* kNoSize =
    L"CZtVeroveDriver::OpenDevice: Failed to read the DMD size: no patterns until the device is "
    L"opened again.";
constexpr const wchar_t* kEncodingFailed =
    L"CZtVeroveDriver::SetPixelEncoding: Failed to SetPixelEncoding.";
constexpr const wchar_t* kSizeFailed =
    L"CZtVeroveDriver::SetPixelEncoding: Failed to GetImageSizeBytes.";
constexpr const wchar_t* kBufferFailed =
    L"CZtVeroveDriver::SetPixelEncoding: Failed to set user buffer.";

constexpr const wchar_t* kNotOpened = L"CZtVeroveDriver::OpenDevice: Device 0 was not opened.";
constexpr const wchar_t* kStartIndexFailed =
    L"CZtVeroveDriver::ExposePattern: Failed to call SetSequenceStartIndex";
constexpr const wchar_t* kLoopLengthFailed =
    L"CZtVeroveDriver::ExposePattern: Failed to call SetSequenceLoopLength";
constexpr const wchar_t* kGreyTimeFailed =
    L"CZtVeroveDriver::ExposePattern: Failed to SetGrayScaleExposureTime 0.05 s.";
constexpr const wchar_t* kGreyEncodingFailed =
    L"CZtVeroveDriver::UploadPattern: Failed to SetGrayScaleSequenceEncoding 6BitDIP";
constexpr const wchar_t* kGreyUploadFailed =
    L"CZtVeroveDriver::UploadPattern: Failed to UploadGrayScaleImage";
constexpr const wchar_t* kLiveFailed =
    L"CZtVeroveDriver::ExposePattern: Failed to set operation mode Live.";
constexpr const wchar_t* kSequenceClearFailed =
    L"CZtVeroveDriver::ProgramIlluminationSequence: Failed to clear device memory.";

// Each operation's answer to each failing SDK call: its status, its log line and what the mirrors
// show; a cell whose call the operation does not make fails as unexpected.
const std::map<std::string, std::vector<SCell>>& Expectations() {
    static const std::map<std::string, std::vector<SCell>> expectations = {
        {"connect",
         {{"", 0, kDark},
          {"AT_InitialiseLibrary", -1, kDark, kNoDevice},
          {"AT_GetInt DeviceCount", -1, kDark, kNoDevice},
          {"AT_Open", -1, kDark, kNotOpened},
          {"AT_GetString DeviceType", -1, kDark,
           L"CZtVeroveDriver::OpenDevice: Device 0 was not opened. Device type 0 is not Verove "
           L"III."},
          {"AT_GetInt SensorWidth", 0, kDark, kNoSize},
          {"AT_GetInt SensorHeight", 0, kDark, kNoSize},
          {"AT_RegisterFeatureCallback IsExposing", 0, kDark},
          {"AT_GetString FirmwareVersion", 0, kDark,
           L"Connected with Device Firmware: , PCIe Card Firmware: 1.3.0,"},
          {"AT_GetString ControllerFirmwareVersion", 0, kDark,
           L"Connected with Device Firmware: 2.1.7, PCIe Card Firmware: ,"},
          {"AT_SetEnumString PixelEncoding", 0, kDark, kEncodingFailed},
          {"AT_GetInt ImageSizeBytes", 0, kDark, kSizeFailed},
          {"AT_QueueBuffer", 0, kDark, kBufferFailed},
          {"AT_SetEnumString OperationMode", 0, kDark, kLiveFailed},
          {"AT_SetEnumString TriggerMode", 0, kDark},
          {"AT_Command Expose", 0, kDark, kExposeFailed}}},
        {"expose",
         {{"", 0, kAsked},
          {"AT_Command Abort", 0, kAsked},
          {"AT_Command Expose", -1, kDark, kExposeFailed}}},
        {"expose grey-scale",
         {{"", 0, kAsked},
          {"AT_Command Abort", 0, kAsked},
          {"AT_Command ClearSequenceMemory", -1, kDark, kExposeClearFailed},
          {"AT_Command ClearFrameMemory", -1, kDark, kExposeClearFailed},
          {"AT_SetInt SequenceStartIndex", -1, kDark, kStartIndexFailed},
          {"AT_SetInt SequenceLoopLength", -1, kDark, kLoopLengthFailed},
          {"AT_SetFloat GrayScaleExposureTime", -1, kDark, kGreyTimeFailed},
          {"AT_SetEnumString GrayScaleSequenceEncoding",
           -9,
           kDark,
           kGreyEncodingFailed,
           {-1, kDark}},
          {"AT_Command UploadGrayScaleImage", -9, kDark, kGreyUploadFailed, {-1, kDark}},
          {"AT_Command Expose", -1, kDark, kExposeFailed}}},
        {"bit depth",
         {{"", 0, kAsked},
          {"AT_SetEnumString PixelEncoding", 0, kDark, kEncodingFailed},
          {"AT_GetInt ImageSizeBytes", 0, kDark, kSizeFailed},
          {"AT_QueueBuffer", 0, kDark, kBufferFailed},
          {"AT_Command Abort", 0, kAsked},
          {"AT_SetEnumString TriggerMode", 0, kAsked},
          {"AT_Command ClearSequenceMemory", 0, kDark, kExposeClearFailed},
          {"AT_Command ClearFrameMemory", 0, kDark, kExposeClearFailed},
          {"AT_SetInt SequenceStartIndex", 0, kDark, kStartIndexFailed},
          {"AT_SetInt SequenceLoopLength", 0, kDark, kLoopLengthFailed},
          {"AT_SetFloat GrayScaleExposureTime", 0, kDark, kGreyTimeFailed},
          {"AT_SetEnumString GrayScaleSequenceEncoding", 0, kDark, kGreyEncodingFailed},
          {"AT_Command UploadGrayScaleImage", 0, kDark, kGreyUploadFailed},
          {"AT_SetEnumString OperationMode", 0, kDark,
           L"CZtVeroveDriver::ExposePattern: Failed to set operation mode "
           L"ContinuousFrameSequence."},
          {"AT_Command Expose", 0, kDark, kExposeFailed}}},
        {"stimulation begin",
         {{"", 0, kAsked},
          {"AT_Command Abort", 0, kAsked},
          {"AT_Command Expose",
           0,
           kAsked,
           kExposeFailed,
           {0, kDark,
            L"CZtStimulationDeviceVerove::StimulationBegin: Failed to expose pattern 3."}}}},
        {"stimulation end",
         {{"", 0, kAsked},
          {"AT_Command Abort", 0, kAsked},
          {"AT_Command Expose", 0, kAsked, kExposeFailed, {0, kDark}}}},
        {"manual shot",
         {{"", 0, kAsked},
          {"AT_Command Abort", 0, kAsked},
          {"AT_Command Expose", 0, kAsked, kExposeFailed, {0, kDark}}}},
        {"sequence programming",
         {{"", 0, kAsked},
          {"AT_Command Abort", 0, kAsked},
          {"AT_Command Expose", 0, kAsked, kExposeFailed, {21, kDark}},
          {"AT_Command ClearSequenceMemory", 21, kDark, kSequenceClearFailed},
          {"AT_Command ClearFrameMemory", 21, kDark, kSequenceClearFailed},
          {"AT_SetEnumString OperationMode", 21, kDark,
           L"CZtVeroveDriver::ProgramIlluminationSequence: Failed to set operation mode "
           L"FrameSequence."},
          {"AT_SetEnumString TriggerMode", 0, kAsked},
          {"AT_SetBool OverlapMode", 0, kAsked},
          {"AT_Command UploadFrame", 21, kDark,
           L"CZtStimulationDeviceVerove::SetOperationMode: Failed to upload pattern."},
          {"AT_SetInt FrameIndex", 21, kDark, kEventNotSet},
          {"AT_SetInt FrameCount", 21, kDark, kEventNotSet},
          {"AT_SetInt FrameCycleCount", 21, kDark, kEventNotSet},
          {"AT_SetFloat SequenceExposureTime", 21, kDark, kEventNotSet},
          {"AT_SetFloat SequenceGapTime", 21, kDark, kEventNotSet},
          {"AT_Command UploadSequenceEvent", 21, kDark,
           L"CZtVeroveDriver::ProgramIlluminationSequence: Maximum sequence event count reached"},
          {"AT_SetInt SequenceStartIndex", 0, kAsked},
          {"AT_SetInt SequenceLoopCount", 0, kAsked},
          {"AT_SetInt SequenceLoopLength", 21, kDark,
           L"CZtVeroveDriver::ProgramIlluminationSequence: Failed to call Expose"}}},
        {"sequence leaving",
         {{"", 0, kAsked},
          {"AT_Command Abort", 0, kAsked},
          {"AT_Command ClearSequenceMemory", 0, kAsked},
          {"AT_Command ClearFrameMemory", 0, kAsked},
          {"AT_SetEnumString OperationMode", 0, kAsked, nullptr, {0, kDark, kLiveFailed}},
          {"AT_SetEnumString TriggerMode", 0, kAsked},
          {"AT_Command Expose", 0, kDark, kExposeFailed}}},
        {"auto-calibration",
         {{"", 0, kAsked},
          {"AT_Command Abort", 0, kAsked},
          {"AT_Command Expose", 0, kAsked, kExposeFailed, {-9, kDark}}}},
        {"disconnect",
         {{"", 0, kDark},
          {"AT_Command Abort", 0, kDark},
          {"AT_Command Expose", 0, kDark, kExposeFailed},
          {"AT_Close", 0, kDark},
          {"AT_FinaliseLibrary", 0, kDark}}},
        {"exposure end",
         {{"", 0, kDark}, {"AT_GetBool IsExposing", 0, kDark, nullptr, {-1, kDark}}}},

    };
    return expectations;
}

// ---- Running one cell --------------------------------------------------------------------------

struct SCall {
    std::string function;
    std::wstring feature;
    bool operator<(const SCall& other) const {
        return std::tie(function, feature) < std::tie(other.function, other.feature);
    }
};

struct SObserved {
    int status = 0;
    EShown shown = EShown::Other;
    std::vector<std::wstring> addedLines;  // beyond the fault-free run's log
};

std::wstring WithoutTimes(const std::wstring& line) {
    static const std::wregex times(L"execution time [0-9]+ ms");
    return std::regex_replace(line, times, L"execution time N ms");
}

// A line without its numbers, addresses and points: what tells it apart from the fault-free
// run's lines is its text.
std::wstring Shape(const std::wstring& line) {
    static const std::wregex numbers(L"(0x)?[0-9a-f]*[0-9][0-9a-f.]*");
    return std::regex_replace(line, numbers, L"#");
}

EShown Classify(const SOperation& operation, CWorld& world) {
    const fake_atcore::MirrorFrame frame = fake_atcore::ShownFrame();
    if (!frame.exposing || AllDark(frame)) {
        return EShown::Dark;
    }
    return operation.asked(world, frame) ? EShown::Asked : EShown::Other;
}

// Runs the operation on a fresh device, the call failing as asked (count 0: no fault).
SObserved RunCell(const SOperation& operation, const SCall& call, int count, bool exception,
                  std::vector<SCall>* calls = nullptr) {
    CWorld world;
    operation.prepare(world);
    fake_atcore::ClearCalls();
    zthost::ClearCapturedLog();
    if (count > 0 && exception) {
        fake_atcore::InjectException(call.function, count, call.feature);
    } else if (count > 0) {
        fake_atcore::InjectError(call.function, kInjectedCode, count, call.feature);
    }
    SObserved observed;
    observed.status = operation.run(world);
    fake_atcore::ClearFaults();
    observed.shown = operation.consistent(world) ? Classify(operation, world) : EShown::Other;
    for (const std::wstring& line : zthost::CapturedLog()) {
        observed.addedLines.push_back(WithoutTimes(line));
    }
    if (calls) {
        std::set<SCall> seen;
        for (const fake_atcore::CallRecord& record : fake_atcore::Calls()) {
            const SCall made{record.function, record.feature};
            const bool callback = made.function == "AT_GetBool" && made.feature == L"IsExposing";
            if (callback == operation.callbackRead && seen.insert(made).second) {
                calls->push_back(made);
            }
        }
    }
    return observed;
}

const SCell* FindExpectation(const char* operation, const std::string& call) {
    const auto cells = Expectations().find(operation);
    if (cells == Expectations().end()) {
        return nullptr;
    }
    for (const SCell& cell : cells->second) {
        if (call == cell.call) {
            return &cell;
        }
    }
    return nullptr;
}

bool Logged(const std::vector<std::wstring>& log, const std::wstring& text) {
    return std::any_of(log.begin(), log.end(), [&](const std::wstring& line) {
        return line.find(text) != std::wstring::npos;
    });
}

std::string Utf8(const std::wstring& text) {
    return CZtStringW(text).ToUtf8();
}

// ---- The matrix file ---------------------------------------------------------------------------

const std::filesystem::path kMatrixFolder =
    std::filesystem::path(VEROVE_BIN_DIR).parent_path() / "fault-matrix";

// Writes the operation's section, then joins every section written so far into fault-matrix.md;
// operations run in parallel processes, so the joining holds a file lock.
void WriteSection(int index, const std::string& section) {
    std::filesystem::create_directories(kMatrixFolder);
    char file[16];
    std::snprintf(file, sizeof file, "%02d.md", index);
    std::ofstream(kMatrixFolder / file) << section;
    const std::filesystem::path lockPath = kMatrixFolder / ".lock";
    const int lock = ::open(lockPath.c_str(), O_CREAT | O_RDWR, 0644);
    ::flock(lock, LOCK_EX);
    std::vector<std::filesystem::path> sections;
    for (const auto& entry : std::filesystem::directory_iterator(kMatrixFolder)) {
        if (entry.path().extension() == ".md") {
            sections.push_back(entry.path());
        }
    }
    std::sort(sections.begin(), sections.end());
    std::ofstream matrix(kMatrixFolder.parent_path() / "fault-matrix.md");
    matrix << "# SDK fault matrix\n\n"
              "Written by the SdkFaultMatrix test. Each SDK call an operation makes fails with "
              "error code "
           << kInjectedCode
           << " or an exception, once or for good. A cell is the operation's status and what "
              "the mirrors show afterwards (asked: what the operation asked for; dark: nothing "
              "lit). Connect and disconnect give 0 when Connect answered as asked, else -1; a "
              "manual shot 0 when it is active; auto-calibration the run's result.\n";
    for (const std::filesystem::path& path : sections) {
        std::ifstream in(path);
        matrix << "\n" << in.rdbuf();
    }
    ::flock(lock, LOCK_UN);
    ::close(lock);
}

class SdkFaultMatrix : public ::testing::TestWithParam<int> {};

TEST_P(SdkFaultMatrix, EveryCallFailingShowsWhatWasAskedOrDark) {
    const int index = GetParam();
    const SOperation& operation = Operations()[static_cast<size_t>(index)];
    std::vector<SCall> calls;
    const SObserved clean = RunCell(operation, {}, 0, false, &calls);
    std::set<std::wstring> cleanLog;
    for (const std::wstring& line : clean.addedLines) {
        cleanLog.insert(Shape(line));
    }
    ASSERT_FALSE(calls.empty()) << operation.name << " makes no SDK call";
    if (const SCell* expected = FindExpectation(operation.name, "")) {
        EXPECT_EQ(clean.status, expected->status) << operation.name << " without a fault";
        EXPECT_EQ(clean.shown, expected->shown) << operation.name << " without a fault";
    } else {
        ADD_FAILURE() << "no expectation for " << operation.name << " without a fault: status "
                      << clean.status << ", " << Text(clean.shown);
    }

    std::ostringstream section;
    section << "## " << operation.name << "\n\nWithout a fault: " << clean.status << ", "
            << Text(clean.shown) << ".\n\n"
            << "| SDK call | once | once, exception | for good | for good, exception | "
               "lines the plug-in adds (once) |\n|---|---|---|---|---|---|\n";
    for (const SCall& call : calls) {
        const std::string cell =
            call.function + (call.feature.empty() ? "" : " " + Utf8(call.feature));
        const SCell* expected = FindExpectation(operation.name, cell);
        section << "| " << cell;
        std::wstring plugInLines;
        for (const int count : {1, kForGood}) {
            for (const bool exception : {false, true}) {
                SCOPED_TRACE(std::string(operation.name) + " × " + cell +
                             (count == 1 ? ", once" : ", for good") +
                             (exception ? ", exception" : ", error code"));
                const SObserved observed = RunCell(operation, call, count, exception);
                std::vector<std::wstring> added;
                for (const std::wstring& line : observed.addedLines) {
                    if (!cleanLog.count(Shape(line))) {
                        added.push_back(line);
                    }
                }
                section << " | " << observed.status << " · " << Text(observed.shown);
                if (count == 1 && !exception) {
                    for (const std::wstring& line : added) {
                        if (line.rfind(L"Verove CZtVeroveProxy::", 0) != 0) {
                            plugInLines += (plugInLines.empty() ? L"" : L"<br>") + line.substr(7);
                        }
                    }
                }
                EXPECT_NE(observed.shown, EShown::Other) << "a stale or partial frame";
                if (exception) {
                    EXPECT_TRUE(Logged(added, L"Error: " +
                                                  CZtStringW::FromUtf8(call.function).Str() +
                                                  L"() threw an exception"));
                }
                if (!expected) {
                    continue;
                }
                const SOutcome outcome = count == 1 ? expected->Once() : expected->ForGood();
                EXPECT_EQ(observed.status, outcome.status);
                EXPECT_EQ(observed.shown, outcome.shown);
                if (outcome.line) {
                    EXPECT_TRUE(Logged(added, outcome.line)) << Utf8(outcome.line);
                } else if (!exception) {
                    EXPECT_TRUE(
                        Logged(added, L"device error code " + std::to_wstring(kInjectedCode)));
                }
            }
        }
        section << " | " << Utf8(plugInLines) << " |\n";
        if (!expected) {
            ADD_FAILURE() << "no expectation for " << operation.name << " × " << cell;
        }
    }
    WriteSection(index, section.str());
}

std::string OperationName(const ::testing::TestParamInfo<int>& info) {
    std::string name = Operations()[static_cast<size_t>(info.param)].name;
    std::string out;
    bool upper = true;
    for (char c : name) {
        if (c == ' ' || c == '-') {
            upper = true;
        } else {
            out += upper ? static_cast<char>(std::toupper(static_cast<unsigned char>(c))) : c;
            upper = false;
        }
    }
    return out;
}

INSTANTIATE_TEST_SUITE_P(Operations, SdkFaultMatrix,
                         ::testing::Range(0, static_cast<int>(Operations().size())), OperationName);

}  // namespace
