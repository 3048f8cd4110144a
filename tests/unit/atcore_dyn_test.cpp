// The SDK loader: AT_* calls reach the SDK library found on the host's search path, or fail
// cleanly when there is none.
#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "atcore.h"
#include "atcore_dyn.h"
#include "fake_atcore_control.h"
#include "zthost/zthost.h"

namespace {

const std::wstring kFakeFolder = QString(VEROVE_FAKE_SDK_DIR).toStdWString();

std::vector<std::string> Functions() {
    std::vector<std::string> functions;
    for (const fake_atcore::CallRecord& call : fake_atcore::Calls()) {
        functions.push_back(call.function);
    }
    return functions;
}

class AtcoreDyn : public ::testing::Test {
protected:
    void SetUp() override {
        fake_atcore::Reset();
        zthost::ClearCapturedLog();
    }
    void TearDown() override {
        if (!atcore_dyn::LoadedLibraryPath().empty()) {
            AT_FinaliseLibrary();
        }
        fake_atcore::Reset();
        zthost::SetSearchFolders({});
    }
};

TEST_F(AtcoreDyn, WithoutAnSdkLibraryEveryCallFailsCleanly) {
    QTemporaryDir empty;
    zthost::SetSearchFolders({empty.path().toStdWString()});
    EXPECT_EQ(AT_InitialiseLibrary(), AT_ERR_NOTINITIALISED);
    EXPECT_TRUE(atcore_dyn::LoadedLibraryPath().empty());

    AT_H handle = 0;
    AT_64 value = 0;
    AT_WC text[64] = {};
    EXPECT_EQ(AT_Open(0, &handle), AT_ERR_NOTINITIALISED);
    EXPECT_EQ(AT_GetInt(AT_HANDLE_SYSTEM, L"DeviceCount", &value), AT_ERR_NOTINITIALISED);
    EXPECT_EQ(AT_GetString(100, L"DeviceType", text, 64), AT_ERR_NOTINITIALISED);
    EXPECT_EQ(AT_Command(100, L"Expose"), AT_ERR_NOTINITIALISED);
    EXPECT_EQ(AT_FinaliseLibrary(), AT_ERR_NOTINITIALISED);
    // The fake library in this process was never reached: the loader does not fall back to it.
    EXPECT_TRUE(fake_atcore::Calls().empty());
    EXPECT_FALSE(fake_atcore::IsInitialised());
}

TEST_F(AtcoreDyn, FileThatIsNoLibraryIsRefused) {
    QTemporaryDir folder;
    std::ofstream(folder.filePath("libatcore.so").toStdString()) << "not a library";
    zthost::SetSearchFolders({folder.path().toStdWString()});
    EXPECT_EQ(AT_InitialiseLibrary(), AT_ERR_NOTINITIALISED);
    EXPECT_TRUE(atcore_dyn::LoadedLibraryPath().empty());
}

TEST_F(AtcoreDyn, LibraryWithMissingEntryPointsIsRefused) {
    zthost::SetSearchFolders({QString(VEROVE_INCOMPLETE_SDK_DIR).toStdWString(), kFakeFolder});
    EXPECT_EQ(AT_InitialiseLibrary(), AT_ERR_NOTINITIALISED);
    EXPECT_TRUE(atcore_dyn::LoadedLibraryPath().empty());
    EXPECT_TRUE(zthost::LogContains(L"has no entry point AT_Open"));
    EXPECT_TRUE(zthost::LogContains(L"has no entry point AT_Flush"));
    EXPECT_EQ(AT_GetInt(AT_HANDLE_SYSTEM, L"DeviceCount", nullptr), AT_ERR_NOTINITIALISED);
    EXPECT_TRUE(fake_atcore::Calls().empty()) << "the first library found is the one judged";
}

TEST_F(AtcoreDyn, ForwardsEveryCallToTheLoadedLibrary) {
    QTemporaryDir empty;
    zthost::SetSearchFolders({empty.path().toStdWString(), kFakeFolder});
    ASSERT_EQ(AT_InitialiseLibrary(), AT_SUCCESS);
    EXPECT_EQ(atcore_dyn::LoadedLibraryPath(), kFakeFolder + L"/libatcore.so");
    // The library loaded through the search path is the one this test controls.
    EXPECT_TRUE(fake_atcore::IsInitialised());

    AT_64 count = 0;
    ASSERT_EQ(AT_GetInt(AT_HANDLE_SYSTEM, L"DeviceCount", &count), AT_SUCCESS);
    EXPECT_EQ(count, 1);
    AT_H handle = 0;
    ASSERT_EQ(AT_Open(0, &handle), AT_SUCCESS);
    AT_WC text[64] = {};
    ASSERT_EQ(AT_GetString(handle, L"DeviceType", text, 64), AT_SUCCESS);
    EXPECT_EQ(std::wstring(text), L"Verove III");
    EXPECT_EQ(AT_SetEnumString(handle, L"PixelEncoding", L"Mono1Packed"), AT_SUCCESS);
    EXPECT_EQ(AT_SetEnumString(handle, L"PixelEncoding", L"Mono8"), AT_ERR_INDEXNOTAVAILABLE);
    EXPECT_EQ(AT_GetInt(handle, L"ImageSizeBytes", &count), AT_SUCCESS);
    EXPECT_EQ(count, 60000);
    std::vector<AT_U8> buffer(60000, 0);
    EXPECT_EQ(AT_QueueBuffer(handle, buffer.data(), 60000), AT_SUCCESS);
    EXPECT_EQ(AT_SetEnumIndex(handle, L"TriggerMode", 1), AT_SUCCESS);
    EXPECT_EQ(AT_Command(handle, L"Expose"), AT_SUCCESS);
    AT_BOOL exposing = AT_FALSE;
    EXPECT_EQ(AT_GetBool(handle, L"IsExposing", &exposing), AT_SUCCESS);
    EXPECT_EQ(exposing, AT_TRUE);
    EXPECT_EQ(AT_Command(handle, L"Abort"), AT_SUCCESS);
    double seconds = 0;
    EXPECT_EQ(AT_SetFloat(handle, L"ExposureTime", 0.25), AT_SUCCESS);
    EXPECT_EQ(AT_GetFloat(handle, L"ExposureTime", &seconds), AT_SUCCESS);
    EXPECT_EQ(seconds, 0.25);
    EXPECT_EQ(AT_Close(handle), AT_SUCCESS);
    EXPECT_EQ(AT_FinaliseLibrary(), AT_SUCCESS);

    const std::vector<std::string> expected = {
        "AT_InitialiseLibrary", "AT_GetInt",        "AT_Open",    "AT_GetString",
        "AT_SetEnumString",     "AT_SetEnumString", "AT_GetInt",  "AT_QueueBuffer",
        "AT_SetEnumIndex",      "AT_Command",       "AT_GetBool", "AT_Command",
        "AT_SetFloat",          "AT_GetFloat",      "AT_Close",   "AT_FinaliseLibrary"};
    EXPECT_EQ(Functions(), expected);
    const std::vector<fake_atcore::CallRecord> calls = fake_atcore::Calls();
    EXPECT_EQ(calls[3].handle, handle);
    EXPECT_EQ(calls[3].feature, L"DeviceType");
    EXPECT_EQ(calls[5].value, L"Mono8");
    EXPECT_EQ(calls[5].result, AT_ERR_INDEXNOTAVAILABLE);
}

TEST_F(AtcoreDyn, FinaliseUnloadsAndTheLibraryCanBeLoadedAgain) {
    zthost::SetSearchFolders({kFakeFolder});
    ASSERT_EQ(AT_InitialiseLibrary(), AT_SUCCESS);
    ASSERT_EQ(AT_FinaliseLibrary(), AT_SUCCESS);
    EXPECT_FALSE(fake_atcore::IsInitialised());
    EXPECT_TRUE(atcore_dyn::LoadedLibraryPath().empty());
    fake_atcore::ClearCalls();
    AT_64 count = 0;
    EXPECT_EQ(AT_GetInt(AT_HANDLE_SYSTEM, L"DeviceCount", &count), AT_ERR_NOTINITIALISED);
    EXPECT_TRUE(fake_atcore::Calls().empty()) << "nothing reaches an unloaded library";

    ASSERT_EQ(AT_InitialiseLibrary(), AT_SUCCESS);
    EXPECT_FALSE(atcore_dyn::LoadedLibraryPath().empty());
    EXPECT_EQ(AT_GetInt(AT_HANDLE_SYSTEM, L"DeviceCount", &count), AT_SUCCESS);
}

TEST_F(AtcoreDyn, ConcurrentFirstCallsLoadOnce) {
    zthost::SetSearchFolders({kFakeFolder});
    std::vector<std::thread> threads;
    std::vector<int> results(4, -1);
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&results, t] {
            results[t] = AT_InitialiseLibrary();
            AT_64 count = 0;
            if (results[t] == AT_SUCCESS) {
                results[t] = AT_GetInt(AT_HANDLE_SYSTEM, L"DeviceCount", &count);
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(results, std::vector<int>(4, AT_SUCCESS));
    EXPECT_EQ(atcore_dyn::LoadedLibraryPath(), kFakeFolder + L"/libatcore.so");
}

}  // namespace
