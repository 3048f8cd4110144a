// MacroLayer: the host's command interpreter, protocol and procedures, its picture-redraw record,
// the grabber's scan-area form and the experiment look-up.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "zt/zt_display.h"
#include "zt/zt_experiment.h"
#include "zt/zt_grabber.h"
#include "zt/zt_macro.h"
#include "zt/zt_module.h"
#include "zthost/acquisition.h"
#include "zthost/microscope.h"
#include "zthost/zthost.h"

namespace {

class MacroLayer : public ::testing::Test {
protected:
    void SetUp() override { zthost::ResetForTests(); }
    void TearDown() override { zthost::ResetForTests(); }
};

TEST_F(MacroLayer, CommandLinesRunTheProcedureTheyNameWithTheirArguments) {
    std::vector<zthost::MacroArgument> seen;
    zthost::RegisterProcedure(L"Probe", [&](const std::vector<zthost::MacroArgument>& arguments) {
        seen = arguments;
        return 7;
    });
    EXPECT_TRUE(ZT_FindProcedure(L"Probe"));
    EXPECT_EQ(CLI_Command(L"Probe(\"CZtStimulationDeviceVerove_0\", 1, -2.5e1, 3);"), 7);
    ASSERT_EQ(seen.size(), 4u);
    EXPECT_TRUE(seen[0].isText);
    EXPECT_EQ(seen[0].text, L"CZtStimulationDeviceVerove_0");
    EXPECT_FALSE(seen[1].isText);
    EXPECT_EQ(seen[1].number, 1.0);
    EXPECT_EQ(seen[2].number, -25.0);
    EXPECT_EQ(seen[3].number, 3.0);

    EXPECT_EQ(CLI_Command(L"  Probe ( \"a \\\"quoted\\\" name\" )  "), 7);
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].text, L"a \"quoted\" name");
    EXPECT_EQ(CLI_Command(L"Probe()"), 7);
    EXPECT_TRUE(seen.empty());

    EXPECT_EQ(zthost::CliCommands(),
              (std::vector<std::wstring>{L"Probe(\"CZtStimulationDeviceVerove_0\", 1, -2.5e1, 3);",
                                         L"  Probe ( \"a \\\"quoted\\\" name\" )  ", L"Probe()"}));
}

TEST_F(MacroLayer, ManualShotIsKnownFromTheStartAndNeedsARegisteredDevice) {
    EXPECT_TRUE(ZT_FindProcedure(L"ManualShot"));
    EXPECT_EQ(CLI_Command(L"ManualShot(\"CZtStimulationDeviceVerove_5\", 1, 10.0, 2);"), -5);
    EXPECT_EQ(CLI_Command(L"ManualShot(1, 1, 10.0, 2);"), -4);
    EXPECT_EQ(ManualShot(nullptr, 0, 0.0, 0), -4);
    const std::vector<zthost::ManualShotRecord> calls = zthost::ManualShotCalls();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].deviceName, L"CZtStimulationDeviceVerove_5");
    EXPECT_EQ(calls[0].on, 1);
    EXPECT_EQ(calls[0].duration, 10.0);
    EXPECT_EQ(calls[0].parameter, 2);
    EXPECT_EQ(calls[0].result, -5);
    EXPECT_EQ(calls[1].result, -4);

    zthost::UnregisterProcedure(L"ManualShot");
    EXPECT_FALSE(ZT_FindProcedure(L"ManualShot"));
    zthost::ResetForTests();
    EXPECT_TRUE(ZT_FindProcedure(L"ManualShot"));
}

TEST_F(MacroLayer, ProtocolAndRedrawRequestsAreRecordedUntilCleared) {
    EXPECT_EQ(Protocol_Command(L"ManualShot(\"D\", 1, 5.000000, 1);"), 0);
    EXPECT_EQ(Protocol_Command(nullptr), -4);
    Q9_Display_PictureInc(4);
    Q9_Display_PictureInc(1);
    EXPECT_EQ(zthost::ProtocolLines(),
              std::vector<std::wstring>{L"ManualShot(\"D\", 1, 5.000000, 1);"});
    EXPECT_EQ(zthost::PictureRedrawRequests(), (std::vector<int>{4, 1}));
    zthost::ClearMacroRecords();
    EXPECT_TRUE(zthost::ProtocolLines().empty());
    EXPECT_TRUE(zthost::PictureRedrawRequests().empty());
}

TEST_F(MacroLayer, TheGrabberShowsItsScanAreaFormOnlyWhenConfigured) {
    ASSERT_EQ(zthost::SetCamera(zthost::CameraSetup{}), 0);
    IZtGrabberProvider* grabber = zthost::HostContext()->GetGrabberProvider();
    ASSERT_NE(grabber, nullptr);
    IZtInterface* element = nullptr;
    EXPECT_EQ(grabber->GetGUIElement(L"CZtScanAreaElement", &element), -5);
    EXPECT_EQ(element, nullptr);

    zthost::SetScanAreaForm(SZtScanAreaDesc{10.0, 20.0, 110.0, 70.0, 50, 25});
    ASSERT_EQ(grabber->GetGUIElement(L"CZtScanAreaElement", &element), 0);
    EXPECT_EQ(grabber->GetGUIElement(L"OtherElement", &element), -5);
    auto* scanArea =
        static_cast<IZtScanAreaElement*>(element->QueryInterface("CZtScanAreaElement"));
    ASSERT_NE(scanArea, nullptr);
    // The form follows its configuration while a holder keeps it.
    zthost::SetScanAreaForm(SZtScanAreaDesc{1.0, 2.0, 3.0, 4.0, 5, 6});
    SZtScanAreaDesc desc;
    ASSERT_EQ(scanArea->GetScanAreaDesc(&desc), 0);
    EXPECT_EQ(desc.left, 1.0);
    EXPECT_EQ(desc.bottom, 4.0);
    EXPECT_EQ(desc.height, 6);
    EXPECT_EQ(scanArea->GetScanAreaDesc(nullptr), -4);
    // Removing the form leaves the holders' references valid.
    zthost::RemoveScanAreaForm();
    EXPECT_EQ(scanArea->GetScanAreaDesc(&desc), 0);
    scanArea->Release();
    element->Release();
    EXPECT_EQ(grabber->GetGUIElement(L"CZtScanAreaElement", &element), -5);
    EXPECT_EQ(grabber->GetGUIElement(nullptr, &element), -4);
}

TEST(Experiment, FindExperimentSearchesTheNestedExperimentsDepthFirst) {
    SZtExperiment nd;
    nd.type = 1;
    SZtExperiment outer;
    outer.type = 4;
    SZtExperiment phases;
    phases.type = 8;
    phases.phases = {{ZT_STIMULATION_ACTIVE_BITS | (1u << 3), 100.0}};
    outer.children.push_back(phases);
    SZtExperiment later;
    later.type = 8;
    nd.children = {outer, later};

    EXPECT_EQ(CZtExperimentAPI::FindExperiment(&nd, 1), &nd);
    const SZtExperiment* found = CZtExperimentAPI::FindExperiment(&nd, 8);
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(found, &nd.children[0].children[0]);
    EXPECT_EQ(CZtExperimentAPI::FindExperiment(&nd, 2), nullptr);
    EXPECT_EQ(CZtExperimentAPI::FindExperiment(static_cast<SZtExperiment*>(nullptr), 1), nullptr);

    phases.phaseEnabled = {false};
    EXPECT_FALSE(phases.IsPhaseEnabled(0));
    EXPECT_FALSE(phases.IsPhaseEnabled(1));
    EXPECT_TRUE(later.IsPhaseEnabled(3));
}

}  // namespace
