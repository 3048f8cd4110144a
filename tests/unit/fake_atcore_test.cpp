// The fake SDK library: its simulated Verove III as the SDK's callers see it, and its controls.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "atcore.h"
#include "fake_atcore_control.h"

namespace {

// The fake's own AT_* entry points, looked up in the loaded library: the test program also
// carries the loader's AT_* functions, which must not stand in for them here.
struct Sdk {
    void* library = dlopen(VEROVE_FAKE_SDK_DIR "/libatcore.so", RTLD_NOW | RTLD_NOLOAD);
#define SDK_ENTRY(name) \
    decltype(&::name) name = reinterpret_cast<decltype(&::name)>(dlsym(library, #name));
    SDK_ENTRY(AT_InitialiseLibrary)
    SDK_ENTRY(AT_FinaliseLibrary)
    SDK_ENTRY(AT_Open)
    SDK_ENTRY(AT_Close)
    SDK_ENTRY(AT_RegisterFeatureCallback)
    SDK_ENTRY(AT_UnregisterFeatureCallback)
    SDK_ENTRY(AT_SetInt)
    SDK_ENTRY(AT_GetInt)
    SDK_ENTRY(AT_SetFloat)
    SDK_ENTRY(AT_GetFloat)
    SDK_ENTRY(AT_GetFloatMin)
    SDK_ENTRY(AT_GetFloatMax)
    SDK_ENTRY(AT_SetBool)
    SDK_ENTRY(AT_GetBool)
    SDK_ENTRY(AT_SetEnumIndex)
    SDK_ENTRY(AT_SetEnumString)
    SDK_ENTRY(AT_GetEnumIndex)
    SDK_ENTRY(AT_GetEnumCount)
    SDK_ENTRY(AT_GetEnumStringByIndex)
    SDK_ENTRY(AT_Command)
    SDK_ENTRY(AT_SetString)
    SDK_ENTRY(AT_GetString)
    SDK_ENTRY(AT_QueueBuffer)
    SDK_ENTRY(AT_Flush)
#undef SDK_ENTRY
};

Sdk& sdk() {
    static Sdk instance;
    return instance;
}

constexpr int kTimeoutMs = 10000;

// Records the "IsExposing" callbacks: the thread they came on and the value read back from
// inside the callback, which also proves the library takes calls from there.
struct ExposingLog {
    std::mutex mutex;
    std::vector<std::thread::id> threads;
    std::vector<int> values;

    static int AT_EXP_CONV Callback(AT_H handle, const AT_WC* feature, void* context) {
        auto* log = static_cast<ExposingLog*>(context);
        AT_BOOL exposing = -1;
        sdk().AT_GetBool(handle, feature, &exposing);
        std::lock_guard<std::mutex> lock(log->mutex);
        log->threads.push_back(std::this_thread::get_id());
        log->values.push_back(exposing);
        return AT_CALLBACK_SUCCESS;
    }
    std::vector<int> Values() {
        std::lock_guard<std::mutex> lock(mutex);
        return values;
    }
};

class FakeAtcore : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(sdk().library, nullptr) << "the fake SDK library is not loaded";
        ASSERT_NE(sdk().AT_Open, nullptr);
        fake_atcore::Reset();
        ASSERT_EQ(sdk().AT_InitialiseLibrary(), AT_SUCCESS);
        ASSERT_EQ(sdk().AT_Open(0, &handle), AT_SUCCESS);
    }
    void TearDown() override { fake_atcore::Reset(); }

    AT_64 Int(const wchar_t* feature) {
        AT_64 value = -1;
        EXPECT_EQ(sdk().AT_GetInt(handle, feature, &value), AT_SUCCESS) << feature;
        return value;
    }
    int EnumIndex(const wchar_t* feature) {
        int value = -1;
        EXPECT_EQ(sdk().AT_GetEnumIndex(handle, feature, &value), AT_SUCCESS) << feature;
        return value;
    }
    bool Exposing() {
        AT_BOOL value = -1;
        EXPECT_EQ(sdk().AT_GetBool(handle, L"IsExposing", &value), AT_SUCCESS);
        return value == AT_TRUE;
    }
    void SetEnum(const wchar_t* feature, const wchar_t* value) {
        ASSERT_EQ(sdk().AT_SetEnumString(handle, feature, value), AT_SUCCESS) << feature;
    }
    void Set(const wchar_t* feature, AT_64 value) {
        ASSERT_EQ(sdk().AT_SetInt(handle, feature, value), AT_SUCCESS) << feature;
    }
    void SetSeconds(const wchar_t* feature, double value) {
        ASSERT_EQ(sdk().AT_SetFloat(handle, feature, value), AT_SUCCESS) << feature;
    }
    int Command(const wchar_t* command) { return sdk().AT_Command(handle, command); }
    // Queues a buffer of the current frame size with one lit mirror at (x, y), packed or not.
    void QueueFrame(std::vector<AT_U8>& buffer, int x, int y) {
        const bool packed = EnumIndex(L"PixelEncoding") == 1;
        buffer.assign(static_cast<std::size_t>(Int(L"ImageSizeBytes")), 0);
        const int width = static_cast<int>(Int(L"SensorWidth"));
        if (packed) {
            buffer[y * (width / 8) + x / 8] = static_cast<AT_U8>(0x80 >> (x % 8));
        } else {
            buffer[static_cast<std::size_t>(y) * width + x] = 1;
        }
        ASSERT_EQ(sdk().AT_QueueBuffer(handle, buffer.data(), static_cast<int>(buffer.size())),
                  AT_SUCCESS);
    }
    AT_H handle = AT_HANDLE_UNINITIALISED;
};

TEST_F(FakeAtcore, OpenGivesADeviceHandleOncePerIndex) {
    EXPECT_GE(handle, 2);
    AT_H second = 0;
    EXPECT_EQ(sdk().AT_Open(0, &second), AT_ERR_DEVICEINUSE);
    EXPECT_EQ(sdk().AT_Open(1, &second), AT_ERR_DEVICENOTFOUND);
    EXPECT_EQ(sdk().AT_Open(-1, &second), AT_ERR_DEVICENOTFOUND);
    AT_64 value = 0;
    EXPECT_EQ(sdk().AT_GetInt(handle + 1, L"SensorWidth", &value), AT_ERR_INVALIDHANDLE);
    EXPECT_EQ(fake_atcore::OpenDeviceCount(), 1);

    EXPECT_EQ(sdk().AT_Close(handle), AT_SUCCESS);
    EXPECT_EQ(sdk().AT_Close(handle), AT_ERR_INVALIDHANDLE);
    EXPECT_EQ(sdk().AT_GetInt(handle, L"SensorWidth", &value), AT_ERR_INVALIDHANDLE);
    ASSERT_EQ(sdk().AT_Open(0, &second), AT_SUCCESS);

    // Finalising closes what is still open.
    EXPECT_EQ(sdk().AT_FinaliseLibrary(), AT_SUCCESS);
    EXPECT_EQ(fake_atcore::OpenDeviceCount(), 0);
    ASSERT_EQ(sdk().AT_InitialiseLibrary(), AT_SUCCESS);
    EXPECT_EQ(sdk().AT_Open(0, &second), AT_SUCCESS);
}

TEST_F(FakeAtcore, LiveExposeShowsTheQueuedBufferUntilAbort) {
    SetEnum(L"OperationMode", L"Live");
    SetEnum(L"TriggerMode", L"InternalSoftware");
    EXPECT_EQ(Command(L"Expose"), AT_ERR_NODATA);
    SetEnum(L"PixelEncoding", L"Mono1Packed");
    std::vector<AT_U8> buffer;
    QueueFrame(buffer, 9, 0);
    const std::uint64_t before = fake_atcore::ShownFrame().counter;
    ASSERT_EQ(Command(L"Expose"), AT_SUCCESS);
    buffer[1] = 0xff;  // written after Expose: not shown

    fake_atcore::MirrorFrame shown = fake_atcore::ShownFrame();
    EXPECT_EQ(shown.counter, before + 1);
    EXPECT_EQ(shown.encoding, L"Mono1Packed");
    ASSERT_EQ(shown.levels.size(), 480000u);
    EXPECT_EQ(shown.levels[9], 255);
    EXPECT_EQ(shown.levels[10], 0);
    EXPECT_TRUE(Exposing()) << "a software-triggered exposure holds until Abort";

    ASSERT_EQ(Command(L"Abort"), AT_SUCCESS);
    EXPECT_FALSE(Exposing());
    EXPECT_FALSE(fake_atcore::ShownFrame().exposing);

    // Unpacked frames and the inverted mirror state.
    SetEnum(L"PixelEncoding", L"Mono1");
    ASSERT_EQ(sdk().AT_SetBool(handle, L"InvertMode", AT_TRUE), AT_SUCCESS);
    QueueFrame(buffer, 3, 2);
    ASSERT_EQ(Command(L"Expose"), AT_SUCCESS);
    shown = fake_atcore::ShownFrame();
    EXPECT_EQ(shown.encoding, L"Mono1");
    EXPECT_EQ(shown.levels[2 * 800 + 3], 0);
    EXPECT_EQ(shown.levels[0], 255);
}

TEST_F(FakeAtcore, GreyScaleImageBecomesBitPlanesAndLoopsUntilAbort) {
    SetEnum(L"PixelEncoding", L"Mono1");
    SetEnum(L"GrayScaleSequenceEncoding", L"4BitDIP");
    std::vector<AT_U8> buffer(480000, 0);
    for (int x = 0; x < 16; ++x) {
        buffer[x] = static_cast<AT_U8>(x);
    }
    ASSERT_EQ(sdk().AT_QueueBuffer(handle, buffer.data(), static_cast<int>(buffer.size())),
              AT_SUCCESS);
    ASSERT_EQ(Command(L"UploadGrayScaleImage"), AT_SUCCESS);
    EXPECT_EQ(Int(L"FrameMemoryCount"), 4);
    EXPECT_EQ(Int(L"SequenceEventCount"), 4);
    std::vector<fake_atcore::MirrorFrame> planes = fake_atcore::FrameMemory();
    ASSERT_EQ(planes.size(), 4u);
    // Mirror 5 (0101) is lit in planes 0 and 2; mirror 10 (1010) in planes 1 and 3.
    EXPECT_EQ(planes[0].levels[5], 255);
    EXPECT_EQ(planes[1].levels[5], 0);
    EXPECT_EQ(planes[2].levels[5], 255);
    EXPECT_EQ(planes[3].levels[10], 255);

    Set(L"SequenceStartIndex", 0);
    Set(L"SequenceLoopLength", 4);
    SetSeconds(L"GrayScaleExposureTime", 0.001);
    SetEnum(L"OperationMode", L"ContinuousFrameSequence");
    SetEnum(L"TriggerMode", L"InternalExpose");
    const std::uint64_t before = fake_atcore::ShownFrame().counter;
    ASSERT_EQ(Command(L"Expose"), AT_SUCCESS);
    // More frames than one loop has: it keeps going.
    ASSERT_TRUE(fake_atcore::WaitForFrameCounter(before + 9, kTimeoutMs));
    EXPECT_TRUE(Exposing());
    fake_atcore::MirrorFrame shown = fake_atcore::ShownFrame();
    EXPECT_EQ(shown.encoding, L"4BitDIP");
    EXPECT_EQ(shown.levels[15], 255);
    EXPECT_EQ(shown.levels[5], 5 * 17);
    EXPECT_EQ(shown.levels[16], 0);
    ASSERT_EQ(Command(L"Abort"), AT_SUCCESS);
    EXPECT_FALSE(Exposing());

    SetEnum(L"PixelEncoding", L"Mono1Packed");  // the buffer is now a packed frame's size
    std::vector<AT_U8> packed;
    QueueFrame(packed, 0, 0);
    EXPECT_EQ(Command(L"UploadGrayScaleImage"), AT_ERR_INVALIDSIZE);
}

TEST_F(FakeAtcore, TimedExposureEndsOnTheLibraryThreadWithCallbacks) {
    ExposingLog log;
    ASSERT_EQ(sdk().AT_RegisterFeatureCallback(handle, L"IsExposing", &ExposingLog::Callback, &log),
              AT_SUCCESS);
    EXPECT_EQ(sdk().AT_RegisterFeatureCallback(handle, L"IsExposing", nullptr, &log),
              AT_ERR_NULL_EVCALLBACK);
    SetEnum(L"OperationMode", L"Live");
    SetEnum(L"TriggerMode", L"InternalExpose");
    SetSeconds(L"ExposureTime", 0.05);
    std::vector<AT_U8> buffer;
    QueueFrame(buffer, 0, 0);
    ASSERT_EQ(Command(L"Expose"), AT_SUCCESS);
    ASSERT_TRUE(fake_atcore::WaitForExposureEnd(kTimeoutMs));
    EXPECT_FALSE(Exposing());
    EXPECT_EQ(log.Values(), (std::vector<int>{1, 0}));
    {
        std::lock_guard<std::mutex> lock(log.mutex);
        for (std::thread::id id : log.threads) {
            EXPECT_NE(id, std::this_thread::get_id()) << "callbacks come on the library's thread";
        }
    }

    // Abort ends a long exposure at once.
    SetSeconds(L"ExposureTime", 600);
    ASSERT_EQ(Command(L"Expose"), AT_SUCCESS);
    ASSERT_EQ(Command(L"Abort"), AT_SUCCESS);
    EXPECT_FALSE(Exposing());
    ASSERT_TRUE(fake_atcore::WaitForExposureEnd(kTimeoutMs));
    // Both changes are reported; each callback reads the value of its time, which for the rise
    // may already be the end again.
    std::vector<int> values = log.Values();
    ASSERT_EQ(values.size(), 4u);
    EXPECT_EQ(values[3], 0);

    // Unregistered: no more calls.
    ASSERT_EQ(
        sdk().AT_UnregisterFeatureCallback(handle, L"IsExposing", &ExposingLog::Callback, &log),
        AT_SUCCESS);
    ASSERT_EQ(Command(L"Expose"), AT_SUCCESS);
    ASSERT_EQ(Command(L"Abort"), AT_SUCCESS);
    ASSERT_TRUE(fake_atcore::WaitForExposureEnd(kTimeoutMs));
    EXPECT_EQ(log.Values().size(), 4u);
}

// A callback that starts the next exposure from inside the callback, as a driver restarting a
// pattern would: the library must take the call on its own thread without deadlock.
TEST_F(FakeAtcore, CallbackMayCallBackIntoTheLibrary) {
    struct Restart {
        AT_H handle;
        std::atomic<int> ends{0};
        static int AT_EXP_CONV Callback(AT_H h, const AT_WC* feature, void* context) {
            auto* self = static_cast<Restart*>(context);
            AT_BOOL exposing = AT_TRUE;
            sdk().AT_GetBool(h, feature, &exposing);
            if (!exposing && ++self->ends < 3) {
                sdk().AT_Command(h, L"Expose");
            }
            return AT_CALLBACK_SUCCESS;
        }
    } restart{handle};
    ASSERT_EQ(sdk().AT_RegisterFeatureCallback(handle, L"IsExposing", &Restart::Callback, &restart),
              AT_SUCCESS);
    SetEnum(L"TriggerMode", L"InternalExpose");
    SetSeconds(L"ExposureTime", 0.001);
    std::vector<AT_U8> buffer;
    QueueFrame(buffer, 0, 0);
    const std::uint64_t before = fake_atcore::ShownFrame().counter;
    ASSERT_EQ(Command(L"Expose"), AT_SUCCESS);
    for (int i = 0; i < 100 && restart.ends < 3; ++i) {
        ASSERT_TRUE(fake_atcore::WaitForExposureEnd(kTimeoutMs));
    }
    EXPECT_EQ(restart.ends, 3);
    EXPECT_EQ(fake_atcore::ShownFrame().counter, before + 3);
}

// Closing a device ends its thread: AT_Close returns once the callback under way has returned,
// and the callback's own calls still run meanwhile (they answer for a handle that is gone).
TEST_F(FakeAtcore, CloseWaitsForTheCallbackUnderWay) {
    struct Reader {
        std::atomic<bool> entered{false};
        std::atomic<bool> finished{false};
        static int AT_EXP_CONV Callback(AT_H h, const AT_WC*, void* context) {
            auto* self = static_cast<Reader*>(context);
            if (self->entered.exchange(true)) {
                return AT_CALLBACK_SUCCESS;
            }
            AT_64 width = 0;
            while (sdk().AT_GetInt(h, L"SensorWidth", &width) == AT_SUCCESS) {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
            self->finished = true;
            return AT_CALLBACK_SUCCESS;
        }
    } reader;
    ASSERT_EQ(sdk().AT_RegisterFeatureCallback(handle, L"IsExposing", &Reader::Callback, &reader),
              AT_SUCCESS);
    std::vector<AT_U8> buffer;
    QueueFrame(buffer, 0, 0);
    ASSERT_EQ(Command(L"Expose"), AT_SUCCESS);
    while (!reader.entered) {
        std::this_thread::yield();
    }
    ASSERT_EQ(sdk().AT_Close(handle), AT_SUCCESS);
    EXPECT_TRUE(reader.finished) << "AT_Close returned before its callback";
}

}  // namespace
