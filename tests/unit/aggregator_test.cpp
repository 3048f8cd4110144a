// The aggregator over stub units: discovery, numbering, the group rules, the fan-outs and the
// stored assignment.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <algorithm>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "cztaggregatorgroups.h"
#include "cztveroveaggregator.h"
#include "plugin_host.h"
#include "stimulation_areas.h"
#include "stimulation_device_stub.h"
#include "zt/zt_settings.h"

namespace {

// A unit that answers from its own areas, records what reaches it and fails on request.
class UnitStub : public CZtClass,
                 public StimulationDeviceStub<IZtStimulationDevice>,
                 public IZtStimulationDeviceEx {
public:
    explicit UnitStub(std::wstring name) : StimulationDeviceStub(std::move(name)) {}

    void* QueryInterface(const char* name) override {
        if (std::string(name) == "IZtStimulationDeviceEx") {
            AddRef();
            return static_cast<IZtStimulationDeviceEx*>(this);
        }
        if (std::string(name) == "IZtStimulationDevice") {
            AddRef();
            return static_cast<IZtStimulationDevice*>(this);
        }
        return CZtClass::QueryInterface(name);
    }
    int StimulationAreaGetCount() override { return areas.GetCount(); }
    int StimulationAreaGet(CZtRoiObjectList* out, SZtRLEPicBuf* masks, SZtScanAreaDesc*,
                           SZtGrabberFormatDesc*, SZtRect*, std::uint64_t* groupMask) override {
        if (out) {
            *out = areas;
        }
        if (masks) {
            *masks = areaMasks;
        }
        if (groupMask) {
            *groupMask = 0;
            for (const CZtRoiObject& area : areas) {
                *groupMask |= std::uint64_t{1} << area.GetStimulationGroup();
            }
        }
        return 0;
    }
    int StimulationBegin(const SZtStimulationRequest* request) override {
        Record("Begin");
        std::lock_guard lock(m_mutex);
        begun.push_back(request->groupMask);
        return 0;
    }
    int StimulationEnd(double*, double*, int) override { return Record("End"), 0; }
    int StimulationFire(double*, double*) override { return Record("Fire"), fireResult; }
    int StimulationAbort() override { return Record("Abort"), fireResult; }
    int StimulationValidate(const SZtExperiment* experiment, CZtStringW* error) override {
        validated.push_back(*experiment);
        *error = validationError;
        return validationError.IsEmpty() ? 0 : -9;
    }

    int AddUserPattern(const wchar_t*, const wchar_t*, std::int32_t) override { return 0; }
    int GetUserPattern(const wchar_t*, CZtStringW*) override { return -13; }
    int ActivatePatternByName(const wchar_t*) override { return -9; }
    bool HasPattern(const wchar_t*) override { return false; }
    void RefreshPad() override {}
    int GetValue(int, std::uint32_t*) override { return -2; }
    int GetAssociatedLight(std::uint32_t*) override { return -2; }
    int SetControllingAggregator(IZtInterface* aggregator) override {
        controlled = aggregator != nullptr;
        return 0;
    }
    int GetControllingAggregator(IZtInterface**) override { return -13; }
    int TakeOverBitDepth(IZtInterface*) override { return Record("TakeOverBitDepth"), 0; }
    int StimulationAreaSetFor(IZtInterface*, const CZtRoiObjectList* set, const SZtRLEPicBuf* masks,
                              const SZtScanAreaDesc*, const SZtGrabberFormatDesc*,
                              const SZtRect*) override {
        Record("AreaSet");
        areas = *set;
        areaMasks = *masks;
        return 0;
    }
    int GetBitDepth() override { return 1; }
    bool IsExposing() override { return false; }

    std::vector<std::string> Calls() {
        std::lock_guard lock(m_mutex);
        return m_calls;
    }

    CZtRoiObjectList areas;
    SZtRLEPicBuf areaMasks;
    std::vector<std::uint64_t> begun;
    std::vector<SZtExperiment> validated;
    CZtStringW validationError;
    int fireResult = 0;
    bool controlled = false;

private:
    int Record(const char* call) {
        std::lock_guard lock(m_mutex);
        m_calls.push_back(call);
        return 0;
    }
    std::mutex m_mutex;
    std::vector<std::string> m_calls;
};

constexpr const wchar_t* kPrefix = L"CZtStimulationDeviceVeroveSim";

class Aggregator : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_NO_FATAL_FAILURE(ResetPluginHost(m_dir)); }
    void TearDown() override {
        if (m_aggregator) {
            m_aggregator->Release();
        }
        for (UnitStub* unit : m_units) {
            unit->Release();
        }
        zthost::ResetForTests();
    }

    // Registers units under these names and aggregates those of kPrefix.
    int Aggregate(const std::vector<std::wstring>& names) {
        for (const std::wstring& name : names) {
            auto* unit = new UnitStub(name);
            SZtStimulationDeviceRecord record;
            record.uniqueName = name;
            record.device = unit;
            EXPECT_EQ(Manager()->StaticDeviceAdd(record), 0);
            m_units.push_back(unit);
        }
        m_aggregator = new CZtVeroveAggregator();
        return m_aggregator->Initialize(Manager(), kPrefix);
    }
    static IZtStimulationDeviceManager* Manager() {
        return CZtStimulationDeviceManager::GetInstance();
    }
    UnitStub* Unit(const wchar_t* name) {
        for (UnitStub* unit : m_units) {
            if (unit->GetUniqueName() == name) {
                return unit;
            }
        }
        return nullptr;
    }
    // Groups of each aggregated unit, by name.
    std::map<std::wstring, std::vector<int>> Assignment() {
        std::map<std::wstring, std::vector<int>> result;
        for (const auto& [device, groups] : *m_aggregator->GetDevices()) {
            std::vector<int>& list = result[device->GetUniqueName().Str()];
            for (const auto& [group, unused] : groups) {
                list.push_back(group);
            }
        }
        return result;
    }
    void SetAreas(const CZtRoiObjectList& areas) {
        SZtRLEPicBuf masks;
        ZT_RoiListToRLE(&areas, 800, 600, &masks);
        const SZtGrabberFormatDesc format{};
        EXPECT_EQ(m_aggregator->StimulationAreaSet(&areas, &masks, nullptr, &format, nullptr), 0);
    }
    static CZtRoiObjectList OneAreaPerGroup() {
        CZtRoiObjectList areas;
        for (std::uint32_t group = 0; group < 3; ++group) {
            areas.Add(
                Area(20 + group, group, ZT_ROITYPE_RECTANGLE, {100.0 + 200 * group, 100, 20, 20}));
        }
        return areas;
    }
    static std::wstring SettingsPath(const QTemporaryDir& dir) {
        return dir.filePath("VeroveSim.bin").toStdWString();
    }

    QTemporaryDir m_dir;
    std::vector<UnitStub*> m_units;
    CZtVeroveAggregator* m_aggregator = nullptr;
};

TEST_F(Aggregator, NumbersUnitsAndAssignsTheDefaultGroups) {
    struct Case {
        std::vector<std::wstring> names;
        std::map<std::wstring, std::vector<int>> expected;
    };
    const std::wstring s = kPrefix;
    const std::vector<Case> cases = {
        {{s + L"_0", s + L"_1"}, {{s + L"_0", {0, 2}}, {s + L"_1", {1}}}},
        {{s + L"_3", s + L"_1", s + L"_0", s + L"_2"},
         {{s + L"_0", {0}}, {s + L"_1", {1}}, {s + L"_2", {2}}, {s + L"_3", {}}}},
        // The prefix without "_" right after it, or a foreign kind, is not aggregated.
        {{s + L"_5", s + L"X_1", L"CZtStimulationDeviceVerove_2", s}, {{s + L"_5", {0, 1, 2}}}},
    };
    for (const Case& c : cases) {
        TearDown();
        SetUp();
        m_units.clear();
        m_aggregator = nullptr;
        // Initialize answers -9 after a successful discovery: the stored assignment is not read.
        EXPECT_EQ(Aggregate(c.names), -9);
        EXPECT_EQ(Assignment(), c.expected);
        EXPECT_EQ(m_aggregator->GetUniqueName(), L"CZtVeroveAggregatorSim");
        for (UnitStub* unit : m_units) {
            EXPECT_EQ(unit->controlled, c.expected.count(unit->GetUniqueName().Str()) == 1);
        }
    }
}

TEST_F(Aggregator, WithoutDevicesAnswersMinus13AndDetachesOnRelease) {
    EXPECT_EQ(Aggregate({L"CZtStimulationDeviceVerove_0"}), -13);
    EXPECT_EQ(m_aggregator->GetDeviceCount(), 0);
    EXPECT_EQ(m_aggregator->StimulationFire(nullptr, nullptr), 0);
    EXPECT_EQ(m_aggregator->StimulationAbort(), 0);

    m_aggregator->Release();
    m_aggregator = nullptr;
    ASSERT_EQ(Aggregate({std::wstring(kPrefix) + L"_0"}), -9);
    m_aggregator->ReleaseDevices();
    EXPECT_FALSE(m_units.back()->controlled);
}

TEST_F(Aggregator, GroupQueriesFollowTheAssignment) {
    const std::wstring s = kPrefix;
    ASSERT_EQ(Aggregate({s + L"_0", s + L"_1"}), -9);
    EXPECT_EQ(m_aggregator->GetDeviceForGroup(2)->GetUniqueName(), s + L"_0");
    EXPECT_EQ(m_aggregator->GetDeviceForGroup(1)->GetUniqueName(), s + L"_1");
    EXPECT_EQ(m_aggregator->GetDeviceForGroup(5), nullptr);
    // 0 both for the first device's group and for a group nobody owns.
    const int first = m_aggregator->GetDeviceIndexForGroup(0);
    EXPECT_EQ(m_aggregator->GetDeviceIndexForGroup(7), 0);
    EXPECT_EQ(m_aggregator->GetDeviceIndexForGroup(1), 1 - first);
}

TEST_F(Aggregator, HandsEachUnitTheAreasOfItsGroupsOnlyWhenTheyChange) {
    const std::wstring s = kPrefix;
    ASSERT_EQ(Aggregate({s + L"_0", s + L"_1", s + L"_2", s + L"_3"}), -9);
    SetAreas(OneAreaPerGroup());
    for (int number = 0; number < 4; ++number) {
        UnitStub* unit = Unit((s + L"_" + std::to_wstring(number)).c_str());
        // The fourth unit owns no group: its areas were already empty, so it is not called.
        EXPECT_EQ(unit->areas.GetCount(), number < 3 ? 1 : 0);
        EXPECT_EQ(unit->Calls(),
                  number < 3 ? std::vector<std::string>{"AreaSet"} : std::vector<std::string>{});
        if (number < 3) {
            EXPECT_EQ(unit->areaMasks.objects.at(0).id, 20u + number);
        }
    }
    SetAreas(OneAreaPerGroup());
    EXPECT_EQ(Unit((s + L"_1").c_str())->Calls().size(), 1u);
    std::uint64_t groups = 0;
    m_aggregator->StimulationAreaGet(nullptr, nullptr, nullptr, nullptr, nullptr, &groups);
    EXPECT_EQ(groups, 0x7u);
    EXPECT_EQ(m_aggregator->StimulationAreaGetCount(), 3);
}

TEST_F(Aggregator, BeginStartsOneCallPerUnitOfTheNarrowedGroups) {
    const std::wstring s = kPrefix;
    ASSERT_EQ(Aggregate({s + L"_0", s + L"_1"}), -9);
    CZtRoiObjectList areas = OneAreaPerGroup();
    areas.RemoveAt(2);  // unit 0 owns S1 and S3, but has only an S1 area
    SetAreas(areas);
    UnitStub* unit0 = Unit((s + L"_0").c_str());
    UnitStub* unit1 = Unit((s + L"_1").c_str());

    SZtStimulationRequest request{1, 0.0, 0x2};
    EXPECT_EQ(m_aggregator->StimulationBegin(&request), 0);
    EXPECT_EQ(unit0->Calls(), std::vector<std::string>{"AreaSet"});
    EXPECT_EQ(unit1->begun, std::vector<std::uint64_t>{0x2});

    // S3 and S2: unit 0 has nothing of S3 to stimulate.
    request.groupMask = 0x6;
    EXPECT_EQ(m_aggregator->StimulationBegin(&request), 0);
    EXPECT_TRUE(unit0->begun.empty());
    EXPECT_EQ(unit1->begun, (std::vector<std::uint64_t>{0x2, 0x2}));

    // A timed phase too short to wait for starts nothing.
    request = {2, 0.0005, 0x3};
    EXPECT_EQ(m_aggregator->StimulationBegin(&request), -4);
    EXPECT_EQ(unit1->begun.size(), 2u);
}

TEST_F(Aggregator, FireAndAbortStopAtTheFirstFailingUnit) {
    const std::wstring s = kPrefix;
    ASSERT_EQ(Aggregate({s + L"_0", s + L"_1"}), -9);
    IZtStimulationDevice* first = m_aggregator->GetDevices()->begin()->first;
    UnitStub* failing = Unit(first->GetUniqueName().GetString());
    UnitStub* other = failing == m_units[0] ? m_units[1] : m_units[0];
    failing->fireResult = -9;
    EXPECT_EQ(m_aggregator->StimulationFire(nullptr, nullptr), -9);
    EXPECT_EQ(m_aggregator->StimulationAbort(), -9);
    EXPECT_EQ(failing->Calls(), (std::vector<std::string>{"Fire", "Abort"}));
    EXPECT_TRUE(other->Calls().empty());
}

TEST_F(Aggregator, ValidationRestrictsEachUnitAndRefusesGroupsOfOneUnitInParallel) {
    const std::wstring s = kPrefix;
    ASSERT_EQ(Aggregate({s + L"_0", s + L"_1"}), -9);
    const auto phaseOf = [](std::uint32_t groups) {
        SZtExperiment experiment;
        experiment.type = 8;
        experiment.phases.push_back({1u | (groups << ZT_STIMULATION_GROUP_SHIFT), 100.0});
        return experiment;
    };
    const SZtExperiment s1s2 = phaseOf(0x3);
    const SZtExperiment s1s3 = phaseOf(0x5);
    CZtStringW error;
    EXPECT_EQ(m_aggregator->StimulationValidate(&s1s2, &error), 0);
    // Each unit saw only its own groups of S1 + S2.
    EXPECT_EQ(Unit((s + L"_0").c_str())->validated.back().phases[0].stimulation,
              1u | (0x1u << ZT_STIMULATION_GROUP_SHIFT));
    EXPECT_EQ(Unit((s + L"_1").c_str())->validated.back().phases[0].stimulation,
              1u | (0x2u << ZT_STIMULATION_GROUP_SHIFT));

    EXPECT_EQ(m_aggregator->StimulationValidate(&s1s3, &error), -9);
    EXPECT_EQ(error, L"Can not stimulate groups S1, S3 on the same device in parallel.");

    // A unit's own refusal is reported with its text, before any conflict.
    Unit((s + L"_1").c_str())->validationError = L"No laser line for S2.";
    error = L"";
    EXPECT_EQ(m_aggregator->StimulationValidate(&s1s3, &error), -9);
    EXPECT_EQ(error, L"\nNo laser line for S2.");
}

TEST_F(Aggregator, SavesTheAssignmentBesideTheFilesOtherContentAndReadsItBack) {
    const std::wstring s = kPrefix;
    CZtLiteVariantW other;
    other.OpenLevel(L"Verove");
    other.AddInt(L"FileVersion", 8);
    other.OpenLevel(s.c_str());
    other.AddString(L"Kept", L"yes");
    other.Finalize();
    ASSERT_EQ(ZT_SaveSettingsFile(L"VeroveSim.bin", other), 0);

    ASSERT_EQ(Aggregate({s + L"_0", s + L"_1"}), -9);
    // Move S3 to unit 1, then save by letting the devices go.
    for (auto& [device, groups] : *m_aggregator->GetDevices()) {
        groups = device->GetUniqueName() == s + L"_0" ? ZtGroupAssignment{{0, 0}}
                                                      : ZtGroupAssignment{{1, 0}, {2, 0}};
    }
    const auto moved = Assignment();
    m_aggregator->ReleaseDevices();
    m_aggregator->Release();
    m_aggregator = nullptr;

    CZtLoadSettingsManager manager;
    ASSERT_EQ(manager.PrepareLoading(L"VeroveSim", 1, nullptr), 1);
    CZtLiteVariantR* reader = manager.GetLiteVariant(0);
    ASSERT_EQ(reader->OpenLevel(L"Verove"), 0);
    ASSERT_EQ(reader->OpenLevel(s.c_str()), 0);
    EXPECT_EQ(reader->GetString(L"Kept", L""), L"yes");

    m_aggregator = new CZtVeroveAggregator();
    ASSERT_EQ(m_aggregator->Initialize(Manager(), kPrefix), -9);
    EXPECT_NE(Assignment(), moved);  // the default again
    EXPECT_EQ(m_aggregator->LoadFromFile(), 0);
    EXPECT_EQ(Assignment(), moved);
}

TEST_F(Aggregator, SavesNothingWithOneUnitAndKeepsTheDefaultOverACorruptFile) {
    const std::wstring s = kPrefix;
    ASSERT_EQ(Aggregate({s + L"_0"}), -9);
    EXPECT_EQ(m_aggregator->LoadFromFile(), -13);
    m_aggregator->ReleaseDevices();
    EXPECT_FALSE(QFile::exists(m_dir.filePath("VeroveSim.bin")));
    m_aggregator->Release();
    m_aggregator = nullptr;

    QFile corrupt(m_dir.filePath("VeroveSim.bin"));
    ASSERT_TRUE(corrupt.open(QIODevice::WriteOnly));
    corrupt.write("not a settings tree");
    corrupt.close();
    ASSERT_EQ(Aggregate({s + L"_1"}), -9);
    const auto defaults = Assignment();
    EXPECT_EQ(m_aggregator->LoadFromFile(), -5);
    EXPECT_EQ(Assignment(), defaults);
    // Saving keeps the unreadable file aside rather than losing it.
    m_aggregator->ReleaseDevices();
    const QStringList aside = QDir(m_dir.path()).entryList({"VeroveSim.bin.corrupt-*"});
    EXPECT_EQ(aside.size(), 1);
}

}  // namespace
