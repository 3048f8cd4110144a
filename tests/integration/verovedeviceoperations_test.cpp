// The device class's own operations reached through the host's slot table of the class, on a
// device the plug-in's Connect export made: each declared slot must land in its operation.
#include <gtest/gtest.h>

#include <QLibrary>
#include <algorithm>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "zt/zt_stimulation.h"
#include "zt/zt_util.h"
#include "zt/zt_verovedevice.h"
#include "zthost/zthost.h"

namespace {

const QString kPluginPath = QStringLiteral(VEROVE_BIN_DIR "/q9_plugin_verove.so");

using ConnectFn = bool (*)(bool, bool, std::uint32_t, const wchar_t*, wchar_t*, bool*);

// The operation the device logged first since the capture was cleared ("Class::Operation").
std::wstring FirstLoggedOperation() {
    const std::wstring prefix = L"Verove CZtStimulationDeviceVerove::";
    for (const std::wstring& line : zthost::CapturedLog()) {
        if (line.rfind(prefix, 0) == 0) {
            return line.substr(prefix.size(), line.find(L':', prefix.size()) - prefix.size());
        }
    }
    return L"";
}

class VeroveDeviceOperations : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        std::wstring error;
        ASSERT_GT(zthost::LoadPluginLibrary(kPluginPath.toStdWString(), &error), 0);
        library = new QLibrary(kPluginPath);
        ASSERT_TRUE(library->load());
    }
    void SetUp() override {
        connect = reinterpret_cast<ConnectFn>(library->resolve("Connect"));
        ASSERT_NE(connect, nullptr);
        wchar_t name[ZT_MAX_PATH] = L"";
        ASSERT_TRUE(connect(true, true, 0, L"Verove", name, nullptr));
        deviceName = name;
        IZtStimulationDevice* device =
            CZtStimulationDeviceManager::GetInstance()->GetStaticDevice(name);
        ASSERT_NE(device, nullptr);
        operations = static_cast<IZtVeroveDeviceOperations*>(device);
        zthost::ClearCapturedLog();
    }
    void TearDown() override {
        std::wstring name = deviceName;
        name.resize(ZT_MAX_PATH, L'\0');
        connect(false, true, 0, L"", name.data(), nullptr);
    }

    static inline QLibrary* library = nullptr;  // stays loaded, as in the host
    ConnectFn connect = nullptr;
    std::wstring deviceName;
    IZtVeroveDeviceOperations* operations = nullptr;  // borrowed from the manager
};

TEST_F(VeroveDeviceOperations, GuiElementNameRoundTrips) {
    operations->SetGUIElementName(L"Verove pad (left)");
    EXPECT_EQ(operations->GetGUIElementName(), L"Verove pad (left)");
    operations->SetGUIElementName(L"");
    EXPECT_EQ(operations->GetGUIElementName(), L"");
    // The interface slots before the table are untouched by it.
    EXPECT_EQ(operations->GetUniqueName(), CZtStringW(deviceName.c_str()));
}

TEST_F(VeroveDeviceOperations, BitDepthSlotChecksTheDepth) {
    EXPECT_EQ(operations->SetBitDepth(7, false), -4);
    EXPECT_TRUE(zthost::LogContains(
        L"Verove CZtStimulationDeviceVerove::SetBitDepth: Invalid bit depth (7) specified. Not "
        L"set."));
    zthost::ClearCapturedLog();
    operations->SetBitDepth(1, true);
    EXPECT_TRUE(zthost::LogContains(
        L"Verove CZtStimulationDeviceVerove::SetBitDepth: Request to set bit depth 1."));
}

TEST_F(VeroveDeviceOperations, AutocalibrationSlotsReachTheirOperations) {
    using Slot = std::function<int(IZtVeroveDeviceOperations*)>;
    const std::vector<std::pair<std::wstring, Slot>> calls = {
        {L"OnAutocalibrationInit", &IZtVeroveDeviceOperations::OnAutocalibrationInit},
        {L"OnAutocalibrationValidationPhase",
         &IZtVeroveDeviceOperations::OnAutocalibrationValidationPhase},
        {L"OnAutocalibrationEnd",
         [](IZtVeroveDeviceOperations* o) { return o->OnAutocalibrationEnd(false); }}};
    for (const auto& [operation, slot] : calls) {
        SCOPED_TRACE(std::string(operation.begin(), operation.end()));
        zthost::ClearCapturedLog();
        slot(operations);
        EXPECT_EQ(FirstLoggedOperation(), operation);
    }
    // Without a camera the run cannot begin: the user is told so.
    const std::vector<zthost::MessageBoxRecord> boxes = zthost::MessageBoxes();
    EXPECT_TRUE(std::any_of(boxes.begin(), boxes.end(), [](const zthost::MessageBoxRecord& box) {
        return box.text == L"Calibration failed: no camera connected!";
    }));
    EXPECT_EQ(operations->GetAutocalibrationProgress(), 0.0);
    zthost::ClearCapturedLog();
    operations->AutocalibrationRun();
    EXPECT_EQ(FirstLoggedOperation(), L"AutocalibrationRun");
    operations->OnAutocalibrationEnd(false);
}

}  // namespace
