// The device settings file: the record's key tree on disk, merging into a shared file, defaults,
// loading once per device, and the checks of the user's bitmap pattern files.
#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "cztpluginverove.h"
#include "cztstimulationdeviceverove.h"
#include "cztverovedriver.h"
#include "cztverovesettingsfile.h"
#include "settings_compare.h"
#include "zt/zt_devices.h"
#include "zt/zt_picbuf.h"
#include "zt/zt_settings.h"
#include "zt/zt_util.h"
#include "zthost/microscope.h"
#include "zthost/settings_store.h"
#include "zthost/zthost.h"

namespace {

constexpr const wchar_t* kFile = L"VeroveSim.bin";
constexpr const wchar_t* kDevice0 = L"CZtStimulationDeviceVerove_0";
constexpr const wchar_t* kDevice1 = L"CZtStimulationDeviceVerove_1";
constexpr ZT_DWORD kShutter = 30;

CZtVeroveSettings SampleSettings() {
    CZtVeroveSettings s;
    s.bitmaps = {{L"Star", L"/data/star.bmp", 1}, {L"Ring", L"/data/ring.tif", 0}};
    s.patternDuration = 250.5;
    s.bitDepth = 8;
    s.laserLaunchKey = L"ML1";
    s.laserLaunchType = L"IDeviceMultiLaser";
    s.laserLines.resize(2);
    for (std::uint32_t i = 0; i < 2; ++i) {
        SZtVeroveLaserLine& line = s.laserLines[i];
        line.index = i;
        line.visible = i == 0;
        for (int g = 0; g < 3; ++g) {
            line.power[g] = 10.0 * (g + 1) + i;
            line.used[g] = g == 1;
        }
    }
    s.laserSwitcherKey = L"LO1";
    s.laserSwitcherPort = 3;
    s.shutterKeys = {L"SH1", L"SH2"};
    s.externalTriggerSet = true;
    s.nidaqResource = L"Dev1";
    s.pfiTimestamp = 5;
    s.pfiTerminal = L"PFI5";
    s.useTTL = true;
    s.grayscalingEnabled = true;
    s.grayscalingLevelsIndex = 4;
    return s;
}

// The file as the host reads it, entered along levels (each must exist).
CZtLiteVariantR ReadFile(std::initializer_list<const wchar_t*> levels) {
    CZtLiteVariantW tree;
    EXPECT_EQ(ZT_LoadSettingsFile(kFile, &tree), 0);
    CZtLiteVariantR reader(tree);
    for (const wchar_t* level : levels) {
        EXPECT_EQ(reader.OpenLevel(level), 0) << std::wstring(level);
    }
    return reader;
}

// The string values (or names of levels) of the current level's children.
std::vector<std::wstring> ChildStrings(CZtLiteVariantR& reader, bool names) {
    std::vector<std::wstring> children;
    for (int more = reader.FirstChild(); more == 0; more = reader.NextChild()) {
        children.push_back(names ? reader.GetChildName().Str() : reader.GetChildString(L"?").Str());
    }
    return children;
}

// A file written by hand: "Verove" with the version and one device level built by fill.
template <typename Fill>
void WriteFile(std::int32_t version, Fill fill) {
    CZtLiteVariantW tree;
    tree.OpenLevel(L"Verove");
    tree.AddInt(L"FileVersion", version);
    tree.OpenLevel(kDevice0);
    tree.OpenLevel(L"Definition");
    fill(tree);
    tree.Finalize();
    ASSERT_EQ(ZT_SaveSettingsFile(kFile, tree), 0);
}

struct ReleaseDevice {
    void operator()(CZtStimulationDeviceVerove* device) const { device->Release(); }
};
using DevicePtr = std::unique_ptr<CZtStimulationDeviceVerove, ReleaseDevice>;

class DeviceSettings : public ::testing::Test {
protected:
    void SetUp() override {
        zthost::ResetForTests();
        ASSERT_TRUE(m_dir.isValid());
        zthost::SetSettingsLocation(m_dir.path().toStdWString());
        zthost::SetDeviceManagerPresent(true);
        VerovePluginState().hostContext = zthost::HostContext();
    }
    void TearDown() override { VerovePluginState().hostContext = nullptr; }

    std::wstring Path(const QString& name) const { return m_dir.filePath(name).toStdWString(); }

    // A picture file of width x height at the given depth, pixel (0, 0) set.
    std::wstring WritePicture(const QString& name, std::uint32_t bits) const {
        SZtPicBuf picture;
        EXPECT_EQ(CZtPicBufAPI::Alloc(&picture, 16, 8, bits, 1), 0);
        picture.data[0] = bits == 1 ? 0x80 : 200;
        const std::wstring path = Path(name);
        EXPECT_EQ(ZT_SavePictureToFile(path.c_str(), &picture), 0);
        return path;
    }

    DevicePtr ConnectedDevice(const wchar_t* name) {
        DevicePtr device(new CZtStimulationDeviceVeroveSim());
        device->SetUniqueName(name);
        EXPECT_TRUE(device->Connect(true, 0, 0));
        return device;
    }

    QTemporaryDir m_dir;
};

// ---- The record in the file ---------------------------------------------------------------------

TEST_F(DeviceSettings, SavedRecordHasTheKeyTreeWithItsValueTypes) {
    ASSERT_EQ(CZtVeroveSettingsFile::Save(kFile, kDevice0, SampleSettings()), 0);

    CZtLiteVariantR verove = ReadFile({L"Verove"});
    EXPECT_EQ(verove.GetInt(L"FileVersion", 0), 8);
    EXPECT_EQ(ChildStrings(verove, true), (std::vector<std::wstring>{L"FileVersion", kDevice0}));

    CZtLiteVariantR bitmaps = ReadFile({L"Verove", kDevice0, L"Definition", L"Patterns"});
    EXPECT_EQ(bitmaps.GetDouble(L"PatternDuration", 0.0), 250.5);
    ASSERT_EQ(bitmaps.OpenLevel(L"Bitmaps"), 0);
    EXPECT_EQ(ChildStrings(bitmaps, true), (std::vector<std::wstring>{L"Bitmap", L"Bitmap"}));
    ASSERT_EQ(bitmaps.OpenLevel(L"Bitmap"), 0);
    EXPECT_EQ(bitmaps.GetString(L"Name", L""), L"Star");
    EXPECT_EQ(bitmaps.GetString(L"Filepath", L""), L"/data/star.bmp");
    EXPECT_EQ(bitmaps.GetInt(L"Mapping", -1), 1);

    CZtLiteVariantR light = ReadFile({L"Verove", kDevice0, L"Definition", L"Illumination"});
    EXPECT_EQ(light.GetInt(L"BitDepth", 0), 8);
    EXPECT_EQ(light.GetString(L"LaserLaunch", L""), L"ML1");
    EXPECT_EQ(light.GetString(L"LaserLaunchType", L""), L"IDeviceMultiLaser");
    EXPECT_TRUE(light.GetBool(L"ExternalTriggerSet", false));
    EXPECT_EQ(light.GetString(L"NIDAQResource", L""), L"Dev1");
    EXPECT_EQ(light.GetInt(L"PFITimestamp", 0), 5);
    EXPECT_EQ(light.GetString(L"PFITerminal", L""), L"PFI5");
    EXPECT_TRUE(light.GetBool(L"UseTTL", false));
    ASSERT_EQ(light.OpenLevel(L"LaserSwitcher"), 0);
    EXPECT_EQ(light.GetString(L"LaserSwitcherKey", L""), L"LO1");
    EXPECT_EQ(light.GetUInt(L"LaserSwitcherPort", 0), 3u);
    EXPECT_EQ(light.GetInt(L"LaserSwitcherPort", -1), -1);  // stored as uint, not int
    light.CloseLevel();
    ASSERT_EQ(light.OpenLevel(L"ShutterChain"), 0);
    EXPECT_EQ(ChildStrings(light, true), (std::vector<std::wstring>{L"Shutter", L"Shutter"}));
    EXPECT_EQ(ChildStrings(light, false), (std::vector<std::wstring>{L"SH1", L"SH2"}));
    light.CloseLevel();
    // The misspelt level name is the one every file has.
    ASSERT_EQ(light.OpenLevel(L"StimulationGrups"), 0);
    std::vector<std::uint32_t> groups;
    for (int more = light.FirstChild(); more == 0; more = light.NextChild()) {
        ASSERT_EQ(light.GetChildName(), L"Group");
        ASSERT_EQ(light.OpenChild(), 0);
        const std::uint32_t group = light.GetUInt(L"Id", 99);
        groups.push_back(group);
        ASSERT_EQ(light.OpenLevel(L"LaserLines"), 0);
        ASSERT_EQ(light.OpenLevel(L"LaserLine"), 0);  // line 0
        EXPECT_EQ(light.GetUInt(L"Id", 99), 0u);
        EXPECT_EQ(light.GetDouble(L"Power", -1.0), 10.0 * (group + 1));
        EXPECT_EQ(light.GetBool(L"Used", false), group == 1);
        EXPECT_TRUE(light.GetBool(L"Visible", false));
        light.CloseLevel();
        light.CloseLevel();
        light.CloseLevel();
    }
    EXPECT_EQ(groups, (std::vector<std::uint32_t>{0, 1, 2}));

    // The definition level repeats the illumination values; four of them as levels holding one
    // unnamed value.
    CZtLiteVariantR definition = ReadFile({L"Verove", kDevice0, L"Definition"});
    EXPECT_TRUE(definition.GetBool(L"GrayscalingEnabled", false));
    EXPECT_EQ(definition.GetInt(L"GrayscalingLevelsIndex", 0), 4);
    EXPECT_EQ(definition.GetInt(L"BitDepth", 0), 8);
    EXPECT_EQ(definition.GetString(L"LaserLaunch", L""), L"ML1");
    EXPECT_EQ(definition.GetString(L"LaserLaunchType", L""), L"IDeviceMultiLaser");
    ASSERT_EQ(definition.OpenLevel(L"LaserSwitcher"), 0);
    EXPECT_EQ(definition.GetUInt(L"LaserSwitcherPort", 0), 3u);
    definition.CloseLevel();
    ASSERT_EQ(definition.OpenLevel(L"StimulationGrups"), 0);
    EXPECT_EQ(definition.FirstChild(), -5);
    definition.CloseLevel();
    ASSERT_EQ(definition.OpenLevel(L"NIDAQResource"), 0);
    ASSERT_EQ(definition.FirstChild(), 0);
    EXPECT_EQ(definition.GetChildName(), L"");
    EXPECT_EQ(definition.GetChildString(L""), L"Dev1");
    definition.CloseLevel();
    ASSERT_EQ(definition.OpenLevel(L"PFITimestamp"), 0);
    ASSERT_EQ(definition.FirstChild(), 0);
    EXPECT_EQ(definition.GetChildInt(0), 5);
    definition.CloseLevel();
    ASSERT_EQ(definition.OpenLevel(L"PFITerminal"), 0);
    ASSERT_EQ(definition.FirstChild(), 0);
    EXPECT_EQ(definition.GetChildString(L""), L"PFI5");
    definition.CloseLevel();
    ASSERT_EQ(definition.OpenLevel(L"UseTTL"), 0);
    ASSERT_EQ(definition.FirstChild(), 0);
    EXPECT_TRUE(definition.GetChildBool(false));
}

TEST_F(DeviceSettings, SaveThenLoadIntoANewRecordGivesTheSameSettings) {
    ASSERT_EQ(CZtVeroveSettingsFile::Save(kFile, kDevice0, SampleSettings()), 0);
    CZtVeroveSettings loaded;
    // The settings manager takes the name with or without ".bin".
    ASSERT_EQ(CZtVeroveSettingsFile::Load(L"VeroveSim", kDevice0, &loaded), 0);
    ExpectSameSettings(loaded, SampleSettings());
}

TEST_F(DeviceSettings, DevicesOfOneFileKeepTheirOwnLevels) {
    ASSERT_EQ(CZtVeroveSettingsFile::Save(kFile, kDevice0, SampleSettings()), 0);
    CZtVeroveSettings second;
    EXPECT_EQ(CZtVeroveSettingsFile::Load(kFile, kDevice1, &second), -5);
    ExpectSameSettings(second, CZtVeroveSettings());

    second.shutterKeys = {L"SH9"};
    ASSERT_EQ(CZtVeroveSettingsFile::Save(kFile, kDevice1, second), 0);

    CZtLiteVariantR verove = ReadFile({L"Verove"});
    EXPECT_EQ(ChildStrings(verove, true),
              (std::vector<std::wstring>{L"FileVersion", kDevice0, kDevice1}));
    CZtVeroveSettings first;
    ASSERT_EQ(CZtVeroveSettingsFile::Load(kFile, kDevice0, &first), 0);
    ExpectSameSettings(first, SampleSettings());
    ASSERT_EQ(CZtVeroveSettingsFile::Load(kFile, kDevice1, &first), 0);
    ExpectSameSettings(first, second);
}

TEST_F(DeviceSettings, SavingKeepsCalibrationsAndOtherContentOfTheFile) {
    CZtLiteVariantW tree;
    tree.OpenLevel(L"Verove");
    tree.AddInt(L"FileVersion", 8);
    tree.OpenLevel(kDevice0);
    tree.OpenLevel(L"Definition");
    tree.OpenLevel(L"Calibration");
    tree.OpenLevel(L"Camera|10x");
    tree.AddDouble(L"DMDToCam", 1.5);
    tree.Finalize();
    tree.OpenLevel(L"Elsewhere");
    tree.AddString(L"Note", L"kept");
    tree.Finalize();
    ASSERT_EQ(ZT_SaveSettingsFile(kFile, tree), 0);

    ASSERT_EQ(CZtVeroveSettingsFile::Save(kFile, kDevice0, SampleSettings()), 0);
    CZtLiteVariantR calibration =
        ReadFile({L"Verove", kDevice0, L"Definition", L"Calibration", L"Camera|10x"});
    EXPECT_EQ(calibration.GetDouble(L"DMDToCam", 0.0), 1.5);
    CZtLiteVariantR other = ReadFile({L"Elsewhere"});
    EXPECT_EQ(other.GetString(L"Note", L""), L"kept");
}

TEST_F(DeviceSettings, ShorterListsReplaceTheStoredOnesWhole) {
    ASSERT_EQ(CZtVeroveSettingsFile::Save(kFile, kDevice0, SampleSettings()), 0);
    CZtVeroveSettings fewer = SampleSettings();
    fewer.shutterKeys.clear();
    fewer.bitmaps.erase(fewer.bitmaps.begin());
    ASSERT_EQ(CZtVeroveSettingsFile::Save(kFile, kDevice0, fewer), 0);

    CZtLiteVariantR chain =
        ReadFile({L"Verove", kDevice0, L"Definition", L"Illumination", L"ShutterChain"});
    EXPECT_EQ(chain.FirstChild(), -5);
    CZtLiteVariantR bitmaps =
        ReadFile({L"Verove", kDevice0, L"Definition", L"Patterns", L"Bitmaps"});
    EXPECT_EQ(ChildStrings(bitmaps, true), (std::vector<std::wstring>{L"Bitmap"}));
    CZtVeroveSettings loaded;
    ASSERT_EQ(CZtVeroveSettingsFile::Load(kFile, kDevice0, &loaded), 0);
    ExpectSameSettings(loaded, fewer);
}

// ---- Reading rules and defaults --------------------------------------------------------------

TEST_F(DeviceSettings, PatternDurationDefaultsDependOnThePatternsLevel) {
    WriteFile(8, [](CZtLiteVariantW& t) {
        t.OpenLevel(L"Patterns");
        t.CloseLevel();
    });
    CZtVeroveSettings settings;
    ASSERT_EQ(CZtVeroveSettingsFile::Load(kFile, kDevice0, &settings), 0);
    EXPECT_EQ(settings.patternDuration, 1.0);

    WriteFile(8, [](CZtLiteVariantW& t) { t.AddInt(L"GrayscalingLevelsIndex", 2); });
    ASSERT_EQ(CZtVeroveSettingsFile::Load(kFile, kDevice0, &settings), 0);
    EXPECT_EQ(settings.patternDuration, 1000.0);
    EXPECT_EQ(settings.grayscalingLevelsIndex, 2);
}

TEST_F(DeviceSettings, OnlyFileVersion8IsRead) {
    ASSERT_EQ(CZtVeroveSettingsFile::Save(kFile, kDevice0, SampleSettings()), 0);
    CZtLiteVariantW tree;
    ASSERT_EQ(ZT_LoadSettingsFile(kFile, &tree), 0);
    CZtLiteVariantW version7;
    version7.OpenLevel(L"Verove");
    version7.AddInt(L"FileVersion", 7);
    version7.Finalize();
    ASSERT_EQ(tree.Merge(version7), 0);
    ASSERT_EQ(ZT_SaveSettingsFile(kFile, tree), 0);

    CZtVeroveSettings settings = SampleSettings();
    EXPECT_EQ(CZtVeroveSettingsFile::Load(kFile, kDevice0, &settings), -9);
    ExpectSameSettings(settings, CZtVeroveSettings());
}

TEST_F(DeviceSettings, ReadingSkipsEntriesOutsideTheirRanges) {
    WriteFile(8, [](CZtLiteVariantW& t) {
        t.OpenLevel(L"Patterns");
        t.OpenLevel(L"Bitmaps");
        for (const wchar_t* path : {L"", L"/data/a.bmp"}) {
            t.OpenLevel(L"Bitmap");
            t.AddString(L"Name", L"A");
            t.AddString(L"Filepath", path);
            t.CloseLevel();
        }
        t.CloseLevel();
        t.CloseLevel();
        t.OpenLevel(L"Illumination");
        t.OpenLevel(L"StimulationGrups");
        for (std::uint32_t group : {3u, 1u}) {
            t.OpenLevel(L"Group");
            t.AddUInt(L"Id", group);
            t.OpenLevel(L"LaserLines");
            // Line 0 in range, line 1 with a power above 100, and an index beyond the count.
            const std::vector<std::pair<std::uint32_t, double>> lines = {
                {0, 55.0}, {1, 100.5}, {2, 20.0}};
            for (const auto& [id, power] : lines) {
                t.OpenLevel(L"LaserLine");
                t.AddUInt(L"Id", id == 2 ? 7 : id);
                t.AddDouble(L"Power", power);
                t.AddBool(L"Used", true);
                t.AddBool(L"Visible", false);
                t.CloseLevel();
            }
            t.CloseLevel();
            t.CloseLevel();
        }
        t.CloseLevel();
        t.OpenLevel(L"ShutterChain");
        t.AddString(L"Shutter", L"");
        t.AddString(L"Shutter", L"SH1");
        t.CloseLevel();
    });
    CZtVeroveSettings settings;
    ASSERT_EQ(CZtVeroveSettingsFile::Load(kFile, kDevice0, &settings), 0);
    ASSERT_EQ(settings.bitmaps.size(), 1u);
    EXPECT_EQ(settings.bitmaps[0].filePath, L"/data/a.bmp");
    EXPECT_EQ(settings.bitmaps[0].mapping, 0);
    EXPECT_EQ(settings.shutterKeys, std::vector<CZtStringW>{L"SH1"});
    // Only group 1 is taken: its three LaserLine children size the list, line 0 alone is stored.
    ASSERT_EQ(settings.laserLines.size(), 3u);
    EXPECT_EQ(settings.laserLines[0].power[1], 55.0);
    EXPECT_TRUE(settings.laserLines[0].used[1]);
    EXPECT_FALSE(settings.laserLines[0].visible);
    EXPECT_EQ(settings.laserLines[0].power[0], 0.0);
    EXPECT_FALSE(settings.laserLines[0].used[0]);
    EXPECT_EQ(settings.laserLines[1].power[1], 0.0);
    EXPECT_TRUE(settings.laserLines[1].visible);
    EXPECT_EQ(settings.laserLines[2].power[1], 0.0);
    EXPECT_EQ(settings.Read(nullptr), -4);
}

// ---- The device's settings -------------------------------------------------------------------

TEST_F(DeviceSettings, DeviceLoadsOnceAfterTheDeviceListIsConnected) {
    CZtVeroveSettings stored;
    stored.bitmaps = {{L"Dot", WritePicture("dot.png", 8), 1}};
    stored.patternDuration = 42.0;
    ASSERT_EQ(CZtVeroveSettingsFile::Save(kFile, kDevice0, stored), 0);
    DevicePtr device = ConnectedDevice(kDevice0);

    zthost::SetDeviceListConnected(false);
    EXPECT_EQ(device->LoadSettings(), 0);
    EXPECT_FALSE(device->IsStartupDone());
    EXPECT_EQ(device->GetSettings().patternDuration, 1000.0);
    EXPECT_EQ(device->GetPatternCount(), 6);
    // A save before the file was read must not put defaults over it.
    device->SaveSettings();

    zthost::SetDeviceListConnected(true);
    device->LoadSettings();
    EXPECT_TRUE(device->IsStartupDone());
    EXPECT_EQ(device->GetSettings().patternDuration, 42.0);
    EXPECT_EQ(device->GetPatternCount(), 7);
    EXPECT_TRUE(device->HasPattern(L"Dot"));

    // Read once: a second call leaves the record as the device holds it.
    device->GetSettings().patternDuration = 7.0;
    device->LoadSettings();
    EXPECT_EQ(device->GetSettings().patternDuration, 7.0);
    device->SaveSettings();
    CZtVeroveSettings saved;
    ASSERT_EQ(CZtVeroveSettingsFile::Load(kFile, kDevice0, &saved), 0);
    EXPECT_EQ(saved.patternDuration, 7.0);
}

TEST_F(DeviceSettings, MissingOrCorruptFileStillAppliesTheDefaults) {
    zthost::LogicalDeviceSetup setup;
    setup.id = kShutter;
    setup.type = ZT_LOGDEV_SHUTTER;
    setup.key = L"SH1";
    ASSERT_EQ(zthost::AddLogicalDevice(setup), 0);
    for (bool corrupt : {false, true}) {
        SCOPED_TRACE(corrupt ? "corrupt" : "missing");
        if (corrupt) {
            QFile file(m_dir.filePath("VeroveSim.bin"));
            ASSERT_TRUE(file.open(QIODevice::WriteOnly));
            file.write("not a settings tree");
        }
        DevicePtr device = ConnectedDevice(kDevice0);
        // A change of a shutter before start-up waits for the settings.
        const std::uint32_t shutter[] = {kShutter};
        device->HandleDeviceChanged(shutter, 1);
        const int refreshes = zthost::DeviceManagerRefreshCount();
        device->LoadSettings();
        EXPECT_TRUE(device->IsStartupDone());
        ExpectSameSettings(device->GetSettings(), CZtVeroveSettings());
        EXPECT_EQ(device->GetPatternCount(), 6);
        // The light path is applied with the defaults: nothing associated, the device manager
        // refreshed once, the waiting change handled.
        EXPECT_EQ(zthost::DeviceManagerRefreshCount(), refreshes + 1);
        EXPECT_TRUE(device->GetStartupDeviceChanges().empty());
        ZT_DWORD id = 9;
        EXPECT_EQ(device->GetAssociatedLightId(&id), 0);
        EXPECT_EQ(id, 0u);
        EXPECT_EQ(device->GetLineCount(), 0);
        EXPECT_EQ(device->GetAssociatedShutterCount(&id), 0);
        EXPECT_EQ(id, 0u);
        bool open = false;
        EXPECT_EQ(device->GetAssociatedShuttersOpen(&open), 0);
        EXPECT_TRUE(open);  // no shutter stands in the way
    }
}

// ---- Bitmap pattern checks --------------------------------------------------------------------

TEST_F(DeviceSettings, EachUnusableBitmapGetsItsWarningAndNoPattern) {
    zthost::SetTranslation(L"Warning", L"Achtung");
    const std::wstring good = WritePicture("good.png", 8);
    const std::wstring missing = Path("missing.bmp");
    const std::wstring folder = m_dir.path().toStdWString();
    const std::wstring broken = Path("broken.bmp");
    {
        QFile file(QString::fromStdWString(broken));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("BM but no picture");
    }
    CZtVeroveSettings settings;
    settings.bitmaps = {{L"Good", good, 0},  {L"Missing", missing, 0}, {L"Folder", folder, 0},
                        {L"Good", good, 1},  {L"Broken", broken, 0},   {L"Empty", L"", 0},
                        {L"Second", good, 1}};
    std::vector<std::unique_ptr<CZtPattern>> patterns;
    CZtVeroveSettingsFile::CheckBitmapPatterns(&settings, 64, 32, &patterns);

    const std::vector<std::wstring> texts = {
        L"Image file " + missing + L" doesn't exist, pattern Missing will not be available.",
        L"Image file " + folder + L" is not readable, pattern Folder will not be available.",
        L"Pattern Good already in list, duplicate will be removed.",
        L"Unable to parse the file: " + broken};
    const std::vector<zthost::MessageBoxRecord> boxes = zthost::MessageBoxes();
    ASSERT_EQ(boxes.size(), texts.size());
    for (size_t i = 0; i < boxes.size(); ++i) {
        EXPECT_EQ(boxes[i].text, texts[i]);
        EXPECT_EQ(boxes[i].title, L"Achtung");
        EXPECT_EQ(boxes[i].icon, ZT_MB_ICONWARNING);
        EXPECT_EQ(boxes[i].buttons, ZT_MB_OK);
    }

    // Patterns in file order, each with 6 + its entry's place in the record (the entries without
    // a pattern stay listed and keep their places); the duplicate left the record.
    ASSERT_EQ(patterns.size(), 2u);
    EXPECT_EQ(patterns[0]->GetName(), L"Good");
    EXPECT_EQ(patterns[0]->GetId(), 6u);
    EXPECT_EQ(patterns[0]->GetMapping(), 0u);
    EXPECT_EQ(patterns[0]->GetKind(), 1u);
    EXPECT_EQ(patterns[0]->GetFilePath(), good.c_str());
    EXPECT_EQ(patterns[0]->GetWidth(), 64u);
    EXPECT_EQ(patterns[1]->GetName(), L"Second");
    EXPECT_EQ(patterns[1]->GetId(), 11u);
    EXPECT_EQ(patterns[1]->GetMapping(), 1u);
    std::vector<std::wstring> names;
    for (const SZtPatternFile& entry : settings.bitmaps) {
        names.push_back(entry.name.Str());
    }
    EXPECT_EQ(names, (std::vector<std::wstring>{L"Good", L"Missing", L"Folder", L"Broken", L"Empty",
                                                L"Second"}));
}

TEST_F(DeviceSettings, DeviceStoresFilePatternsAfterTheBuiltInsWithSetPixelsAt255) {
    CZtVeroveSettings stored;
    stored.bitmaps = {{L"Binary", WritePicture("binary.png", 1), 1},
                      {L"Grey", WritePicture("grey.png", 8), 0}};
    ASSERT_EQ(CZtVeroveSettingsFile::Save(kFile, kDevice0, stored), 0);
    DevicePtr device = ConnectedDevice(kDevice0);
    device->LoadSettings();
    EXPECT_TRUE(zthost::MessageBoxes().empty());

    ZT_DWORD id = 0;
    ASSERT_EQ(device->GetPatternIdByName(L"Binary", &id), 0);
    EXPECT_EQ(id, 6u);
    ASSERT_EQ(device->GetPatternIdByName(L"Grey", &id), 0);
    EXPECT_EQ(id, 7u);
    CZtVeroveDriver* driver = device->GetDriver();
    ASSERT_NE(driver, nullptr);
    {
        CZtLock lock(driver->GetBufferLock());
        CZtPattern* binary = driver->GetPatterns().FindById(6);
        ASSERT_NE(binary, nullptr);
        EXPECT_EQ(binary->GetMapping(), 1u);
        EXPECT_EQ(binary->GetKind(), 1u);
        EXPECT_EQ(binary->GetWidth(), static_cast<std::uint32_t>(driver->GetDmdWidth()));
        const SZtPicBuf& picture = binary->GetBitmapPicture();
        ASSERT_EQ(picture.bitsPerComponent, 8u);
        EXPECT_EQ(picture.Row(0)[0], 255);
        EXPECT_EQ(picture.Row(0)[1], 0);
    }

    // Checking again after the list changed rebuilds the file patterns, not appends to them.
    device->GetSettings().bitmaps.erase(device->GetSettings().bitmaps.begin());
    device->CheckBitmapPatterns();
    EXPECT_EQ(device->GetPatternCount(), 7);
    ASSERT_EQ(device->GetPatternIdByName(L"Grey", &id), 0);
    EXPECT_EQ(id, 6u);
    EXPECT_FALSE(device->HasPattern(L"Binary"));
}

}  // namespace
