// The configuration record: its configuration string, parsing it back, and the comparisons that
// give the calibration state.
#include <gtest/gtest.h>

#include <functional>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "cztconfigurationdata.h"
#include "zthost/zthost.h"

namespace {

CZtConfigurationData Cam1Record() {
    CZtConfigurationData record;
    record.AddCamera(L"Cam1");
    record.SetCameraRotation(90);
    record.AddObjective(L"P20");
    record.AddFilterChanger(L"Turret1", L"GFP", 2);
    record.SetTRAXConnected(true);
    record.AddConnectionPort(3);
    return record;
}

CZtConfigurationData FromString(const std::wstring& text) {
    SZtConfigurationStringParts parts;
    EXPECT_EQ(ParseConfigurationString(text, &parts), 0);
    CZtConfigurationData record;
    BuildConfigurationFromParts(parts, &record);
    return record;
}

TEST(ConfigurationData, StringOfAnEmptyAndOfAFullConfiguration) {
    EXPECT_FALSE(CZtConfigurationData().IsValid());
    EXPECT_EQ(CZtConfigurationData().GetConfigurationString(), L"#F#O#R0.000000#C");
    EXPECT_TRUE(Cam1Record().IsValid());
    EXPECT_EQ(Cam1Record().GetConfigurationString(),
              L"#F$KTurret1$NGFP$P2#OP20#R90.000000#L3#CCam1");
}

TEST(ConfigurationData, FiltersAreWrittenInKeyNamePositionOrderWithoutDuplicates) {
    CZtConfigurationData record;
    record.AddFilterChanger(L"b", L"GFP", 1);
    record.AddFilterChanger(L"a", L"RFP", 2);
    record.AddFilterChanger(L"a", L"RFP", -1);
    record.AddFilterChanger(L"a", L"RFP", 2);
    record.AddFilterChanger(L"B", L"x", 0);  // ordinal: upper case first
    EXPECT_EQ(record.GetConfigurationString(),
              L"#F$KB$Nx$P0$Ka$NRFP$P-1$Ka$NRFP$P2$Kb$NGFP$P1#O#R0.000000#C");
}

TEST(ConfigurationData, RotationIsNormalisedAndOptionalTokensFollowTheirFlags) {
    CZtConfigurationData record;
    record.SetCameraRotation(-90);
    EXPECT_EQ(record.GetCameraRotation(), 270.0);
    EXPECT_EQ(record.GetConfigurationString(), L"#F#O#R270.000000#C");
    record.SetCameraRotation(720);
    EXPECT_EQ(record.GetCameraRotation(), 0.0);
    record.SetCameraRotation(-360.5);
    EXPECT_DOUBLE_EQ(record.GetCameraRotation(), 359.5);

    record.AddConnectionPort(5);  // TRAX not connected: no port token
    record.AddManualZoom(0.0);
    EXPECT_EQ(record.GetConfigurationString(), L"#F#O#R359.500000#C");
    record.AddManualZoom(1.5);
    EXPECT_EQ(record.GetConfigurationString(), L"#F#O#R359.500000#Z1.500000#C");
}

TEST(ConfigurationData, NoneTextIsWrittenEmpty) {
    CZtConfigurationData record;
    record.AddFilterChanger(L"<none>", L"<none>", 0);
    record.AddObjective(L"<none>");
    record.AddCamera(L"<none>");
    EXPECT_EQ(record.GetConfigurationString(), L"#F$K$N$P0#O#R0.000000#C");

    zthost::SetTranslation(L"<none>", L"<keine>");
    record.AddCamera(L"<keine>");
    EXPECT_EQ(record.GetConfigurationString(), L"#F$K<none>$N<none>$P0#O<none>#R0.000000#C");
    zthost::ClearTranslations();
}

TEST(ConfigurationData, ParsingSplitsEveryToken) {
    SZtConfigurationStringParts parts;
    ParseConfigurationString(L"#F$KT1$NGFP$P2$KT2$NDAPI$P0#OP20#R90.000000#L3#CCam1", &parts);
    ASSERT_EQ(parts.filters.size(), 2u);
    EXPECT_EQ(parts.filters[0].key, L"T1");
    EXPECT_EQ(parts.filters[0].filterName, L"GFP");
    EXPECT_EQ(parts.filters[0].position, L"2");
    EXPECT_EQ(parts.filters[1].filterName, L"DAPI");
    EXPECT_EQ(parts.objective, L"P20");
    EXPECT_EQ(parts.rotation, L"90.00");
    EXPECT_EQ(parts.port, 3);
    EXPECT_TRUE(parts.trax);
    EXPECT_EQ(parts.camera, L"Cam1");
    EXPECT_EQ(parts.zoom, L"<none>");
}

TEST(ConfigurationData, ParsingToleratesBrokenText) {
    SZtConfigurationStringParts parts;
    ParseConfigurationString(L"##X#O#Qjunk#F$Kk$Nn#Z2.5#R", &parts);
    EXPECT_TRUE(parts.filters.empty()) << "a filter without $P is dropped";
    EXPECT_EQ(parts.objective, L"<none>");
    EXPECT_EQ(parts.zoom, L"2.50x");
    EXPECT_EQ(parts.rotation, L"<none>");
    EXPECT_FALSE(parts.trax);

    ParseConfigurationString(L"", &parts);
    EXPECT_EQ(parts.camera, L"<none>");
    ParseConfigurationString(L"#F$Ka$Nb$P$Kc$Nd$P7", &parts);
    ASSERT_EQ(parts.filters.size(), 2u);
    EXPECT_EQ(parts.filters[0].position, L"");
    EXPECT_EQ(parts.filters[1].position, L"7");
}

struct CompareCase {
    const char* what;
    std::function<void(CZtConfigurationData*)> change;  // applied to the stored record
    EZtCalibrationState expected;
};

// The stored record against the current Cam1Record: the first rule that differs decides.
TEST(ConfigurationData, CompareSuggestStateFollowsTheRuleOrder) {
    const std::vector<CompareCase> cases = {
        {"same", [](CZtConfigurationData*) {}, Calibrated},
        {"only the rotation", [](CZtConfigurationData* r) { r->SetCameraRotation(180); },
         NotCalibrated},
        {"objective", [](CZtConfigurationData* r) { r->AddObjective(L"P40"); }, Mismatch},
        {"camera wins over objective",
         [](CZtConfigurationData* r) {
             r->AddObjective(L"P40");
             r->AddCamera(L"Cam2");
         },
         NotCalibrated},
        {"filter", [](CZtConfigurationData* r) { r->AddFilterChanger(L"Turret2", L"DAPI", 0); },
         Mismatch},
        {"zoom", [](CZtConfigurationData* r) { r->AddManualZoom(2.0); }, Mismatch},
        {"port", [](CZtConfigurationData* r) { r->AddConnectionPort(4); }, Mismatch},
        {"port and TRAX flag",
         [](CZtConfigurationData* r) {
             r->AddConnectionPort(4);
             r->SetTRAXConnected(false);
         },
         Mismatch},
        {"invalid", [](CZtConfigurationData* r) { r->SetValid(false); }, NotCalibrated},
        {"no rotation stored",
         [](CZtConfigurationData* r) { *r = FromString(L"#F$KTurret1$NGFP$P2#OP20#L3#CCam1"); },
         Compatible},
    };
    for (const CompareCase& c : cases) {
        SCOPED_TRACE(c.what);
        CZtConfigurationData stored = Cam1Record();
        c.change(&stored);
        EXPECT_EQ(Cam1Record().CompareSuggestState(stored), c.expected);
        EXPECT_EQ(stored.CompareSuggestState(Cam1Record()), c.expected) << "either way round";
    }
}

TEST(ConfigurationData, EqualsIgnoresTheTraxFlagWhenPortsAgreeAndNeverMatchesNaN) {
    CZtConfigurationData connected = Cam1Record();
    connected.AddConnectionPort(0);
    CZtConfigurationData disconnected = connected;
    disconnected.SetTRAXConnected(false);
    EXPECT_EQ(connected.CompareSuggestState(disconnected), Calibrated);
    disconnected.AddConnectionPort(1);
    EXPECT_FALSE(connected.Equals(disconnected));

    connected.SetCameraRotation(std::numeric_limits<double>::quiet_NaN());
    EXPECT_EQ(connected.CompareSuggestState(CZtConfigurationData(connected)), NotCalibrated);
}

TEST(ConfigurationData, CopiesAndAssignmentCarryEveryField) {
    CZtConfigurationData source = Cam1Record();
    source.AddMicroscope(L"Stand");
    source.AddLight(L"LED");
    source.AddMultilaser(L"Launch", 0b101);
    CZtConfigurationData copy(source);
    EXPECT_TRUE(copy.Equals(source));
    EXPECT_EQ(copy.GetMicroscope(), L"Stand");
    EXPECT_EQ(copy.GetMultilasers().begin()->usedLineMask, 0b101u);

    CZtConfigurationData assigned;
    assigned = source;
    assigned = assigned;
    EXPECT_EQ(assigned.GetConfigurationString(), source.GetConfigurationString());
    assigned.Clear();
    EXPECT_EQ(assigned.GetConfigurationString(), L"#F#O#R0.000000#C");
    EXPECT_TRUE(assigned.GetLights().empty());
}

// Random valid configurations survive string → parse → rebuild → string unchanged.
TEST(ConfigurationData, StringRoundTripsThroughParsing) {
    std::mt19937 random(20261205);
    const std::wstring alphabet = L"abcXYZ019 _-.()/\u00e9";
    auto word = [&](int maxLength) {
        std::wstring text;
        const int length = std::uniform_int_distribution<int>(0, maxLength)(random);
        for (int i = 0; i < length; ++i) {
            text += alphabet[std::uniform_int_distribution<size_t>(0, alphabet.size() - 1)(random)];
        }
        return text;
    };
    for (int round = 0; round < 500; ++round) {
        CZtConfigurationData record;
        const int filters = std::uniform_int_distribution<int>(0, 3)(random);
        for (int f = 0; f < filters; ++f) {
            record.AddFilterChanger(word(8), word(8),
                                    std::uniform_int_distribution<int>(-2, 12)(random));
        }
        record.AddObjective(word(6));
        record.AddCamera(word(10));
        if (random() % 4 != 0) {
            record.SetCameraRotation(std::uniform_int_distribution<int>(0, 35999)(random) / 100.0);
        }
        if (random() % 2) {
            record.AddConnectionPort(std::uniform_int_distribution<int>(0, 9)(random));
            record.SetTRAXConnected(true);
        }
        if (random() % 3 == 0) {
            record.AddManualZoom(std::uniform_int_distribution<int>(1, 2000)(random) / 100.0);
        }
        const std::wstring text = record.GetConfigurationString();
        ASSERT_EQ(FromString(text).GetConfigurationString(), text);
    }
}

}  // namespace
