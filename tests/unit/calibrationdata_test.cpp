// The calibration data: choosing and loading stored calibrations, saving and clearing them in the
// settings file, the corrections for the camera, the mappings and the state told to the device.
#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <algorithm>
#include <atomic>
#include <cmath>
#include <mutex>
#include <thread>
#include <vector>

#include "cztcalibrationdata.h"
#include "fake_grabber_provider.h"
#include "zt/zt_settings.h"
#include "zthost/optics.h"
#include "zthost/settings_store.h"
#include "zthost/zthost.h"

namespace {

constexpr const wchar_t* kFile = L"VeroveSim.bin";
constexpr const wchar_t* kDevice = L"CZtStimulationDeviceVerove_0";
const CZtMatrix3 kIdentity = {1, 0, 0, 0, 1, 0, 0, 0, 1};

// The stimulation device as the calibration sees it.
class FakeOwner : public IZtCalibrationOwner {
public:
    CZtStringW GetUniqueName() override { return kDevice; }
    CZtStringW GetSettingsFileName() override { return kFile; }
    IZtGrabberProvider* GetGrabberProvider() override { return grabber; }
    bool HasDriver() override { return true; }
    int GetCurrentFormat(SZtGrabberFormatDesc* result) override {
        *result = format;
        return 0;
    }
    void SetCalibrated(EZtCalibrationState state) override {
        std::lock_guard<std::mutex> lock(mutex);
        told.push_back(state);
    }
    std::vector<EZtCalibrationState> Told() {
        std::lock_guard<std::mutex> lock(mutex);
        return told;
    }

    IZtGrabberProvider* grabber = nullptr;
    SZtGrabberFormatDesc format;
    std::mutex mutex;
    std::vector<EZtCalibrationState> told;
};

// A matrix whose first two rows hold base, base + 1, ..., base + 5: each stored calibration of a
// test gets its own base, so the loaded matrices show which one was chosen.
CZtMatrix3 Numbered(double base) {
    return {base, base + 1, base + 2, base + 3, base + 4, base + 5, 0, 0, 1};
}

struct Stored {
    std::wstring key;
    CZtMatrix3 dmdToCam;
    CZtMatrix3 camToDmd;
};

// Writes a settings file as a device would: other settings, then calibrations in order.
void WriteFile(const std::wstring& device, const std::vector<Stored>& calibrations) {
    CZtLiteVariantW tree;
    tree.OpenLevel(L"Verove");
    tree.AddInt(L"FileVersion", 8);
    tree.OpenLevel(device.c_str());
    tree.OpenLevel(L"Definition");
    tree.AddInt(L"GrayscalingLevelsIndex", 16);
    tree.OpenLevel(L"Calibration");
    for (const Stored& stored : calibrations) {
        tree.OpenLevel(stored.key.c_str());
        for (int i = 0; i < 6; ++i) {
            tree.OpenLevel(nullptr);
            tree.AddDouble(L"m_pdCalibrationMatrixDMDToCam", stored.dmdToCam[i]);
            tree.AddDouble(L"m_pdCalibrationMatrixCamToDMD", stored.camToDmd[i]);
            tree.CloseLevel();
        }
        tree.CloseLevel();
    }
    tree.Finalize();
    ASSERT_EQ(ZT_SaveSettingsFile(kFile, tree), 0);
}

// The file's "Calibration" level of a device, for reading back what was written.
bool OpenCalibrations(CZtLiteVariantR* reader, const wchar_t* device = kDevice) {
    CZtLiteVariantW tree;
    if (ZT_LoadSettingsFile(kFile, &tree) != 0) {
        return false;
    }
    *reader = CZtLiteVariantR(tree);
    return reader->OpenLevel(L"Verove") == 0 && reader->OpenLevel(device) == 0 &&
           reader->OpenLevel(L"Definition") == 0 && reader->OpenLevel(L"Calibration") == 0;
}

std::vector<std::wstring> StoredKeys(const wchar_t* device = kDevice) {
    std::vector<std::wstring> keys;
    CZtLiteVariantR reader;
    if (OpenCalibrations(&reader, device)) {
        for (int more = reader.FirstChild(); more == 0; more = reader.NextChild()) {
            keys.push_back(reader.GetChildName().Str());
        }
    }
    return keys;
}

// Every unnamed level of a stored calibration as (DMD -> camera, camera -> DMD) pairs.
std::vector<std::pair<double, double>> StoredValues(const std::wstring& key) {
    std::vector<std::pair<double, double>> values;
    CZtLiteVariantR reader;
    if (OpenCalibrations(&reader) && reader.OpenLevel(key.c_str()) == 0) {
        for (int more = reader.FirstChild(); more == 0; more = reader.NextChild()) {
            reader.OpenChild();
            values.emplace_back(reader.GetDouble(L"m_pdCalibrationMatrixDMDToCam", -1),
                                reader.GetDouble(L"m_pdCalibrationMatrixCamToDMD", -1));
            reader.CloseLevel();
        }
    }
    return values;
}

// (x, y, 1) through a matrix.
std::array<double, 3> Apply(const CZtMatrix3& m, double x, double y) {
    return {m[0] * x + m[1] * y + m[2], m[3] * x + m[4] * y + m[5], m[6] * x + m[7] * y + m[8]};
}

class CalibrationData : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_dir.isValid());
        zthost::SetSettingsLocation(m_dir.path().toStdWString());
        zthost::ClearCapturedLog();
        zthost::SetDetailLogging(false);
        m_owner.grabber = &m_grabber;
        m_owner.format.value.sensorRect = {0, 0, 200, 100};
        m_owner.format.value.imageRect = {0, 0, 200, 100};
    }
    void TearDown() override { zthost::SetDetailLogging(false); }

    // The current configuration of the device: Cam1, P20, GFP in Turret1 at 2, TRAX on port 3.
    void SetCurrent(CZtCalibrationData* data, const wchar_t* camera = L"Cam1",
                    const wchar_t* objective = L"P20") {
        CZtConfigurationData* current = data->LockCurrentConfiguration();
        current->Clear();
        current->AddCamera(camera);
        current->AddObjective(objective);
        current->AddFilterChanger(L"Turret1", L"GFP", 2);
        current->SetTRAXConnected(true);
        current->AddConnectionPort(3);
        data->UnlockCurrentConfiguration();
        data->SetCameraRotation(90);
    }

    QTemporaryDir m_dir;
    FakeGrabberProvider m_grabber;
    FakeOwner m_owner;
};

const std::wstring kCurrentKey = L"#F$KTurret1$NGFP$P2#OP20#R90.000000#L3#CCam1";
const std::wstring kOtherObjective = L"#F$KTurret1$NGFP$P2#OP40#R90.000000#L3#CCam1";
const std::wstring kOtherFilter = L"#F$KTurret1$NRFP$P3#OP20#R90.000000#L3#CCam1";
const std::wstring kWithoutRotation = L"#F$KTurret1$NGFP$P2#OP20#L3#CCam1";
const std::wstring kOtherCamera = L"#F$KTurret1$NGFP$P2#OP20#R90.000000#L3#CCam2";

// Which stored calibration a load chooses: the exact key, else the key without rotation
// (compatible), else the first other key of the camera in file order (mismatch); never one of
// another camera.
TEST_F(CalibrationData, LoadChoosesExactThenCompatibleThenFirstMismatchOfTheCamera) {
    struct SCase {
        const char* name;
        std::vector<Stored> stored;
        int status;
        EZtCalibrationState state;
        const wchar_t* key;  // null: the chosen key is stored under another name
        double camToDmd;     // the chosen key's base; 0: identity
    };
    const std::vector<SCase> cases = {
        {"exact",
         {{kOtherObjective, Numbered(10), Numbered(10)},
          {kWithoutRotation, Numbered(20), Numbered(20)},
          {kCurrentKey, Numbered(30), Numbered(40)}},
         0,
         Calibrated,
         kCurrentKey.c_str(),
         40},
        {"first mismatch",
         {{kOtherCamera, Numbered(5), Numbered(5)},
          {kOtherObjective, Numbered(10), Numbered(10)},
          {kOtherFilter, Numbered(20), Numbered(20)}},
         0,
         Mismatch,
         kOtherObjective.c_str(),
         10},
        {"compatible",
         {{kOtherObjective, Numbered(10), Numbered(10)},
          {kWithoutRotation, Numbered(20), Numbered(20)}},
         0,
         Compatible,
         nullptr,
         20},
        {"other camera", {{kOtherCamera, Numbered(5), Numbered(5)}}, -13, NotCalibrated, L"", 0},
    };
    for (const SCase& c : cases) {
        SCOPED_TRACE(c.name);
        WriteFile(kDevice, c.stored);
        CZtCalibrationData data(&m_owner);
        SetCurrent(&data);
        bool changed = false;
        EXPECT_EQ(data.LoadCalibration(&changed), c.status);
        EXPECT_EQ(changed, c.status == 0);
        EXPECT_EQ(data.GetCalibrationState(), c.state);
        EXPECT_EQ(m_owner.Told().back(), c.state);
        if (c.key) {
            EXPECT_EQ(data.GetLoadedKey(), c.key);
        }
        EXPECT_EQ(data.GetCalibrationCamToDMD(), c.camToDmd ? Numbered(c.camToDmd) : kIdentity);
    }
    CZtCalibrationData data(&m_owner);
    SetCurrent(&data);
    bool changed = false;
    ASSERT_EQ(data.LoadCalibration(&changed), -13);
    WriteFile(kDevice, {{kCurrentKey, Numbered(30), Numbered(40)}});
    ASSERT_EQ(data.LoadCalibration(&changed), 0);
    EXPECT_EQ(data.LoadCalibration(&changed), 0);
    EXPECT_FALSE(changed) << "the same calibration again";
    CZtConfigurationData* calibration = data.LockCalibrationConfiguration();
    EXPECT_TRUE(calibration->IsRotationSet());
    EXPECT_EQ(calibration->GetCamera(), L"Cam1");
    data.UnlockCalibrationConfiguration();

    // A camera without calibrations keeps the loaded one, not calibrated for it.
    SetCurrent(&data, L"Cam3");
    EXPECT_EQ(data.LoadCalibration(&changed), -13);
    EXPECT_FALSE(changed);
    EXPECT_EQ(data.GetCalibrationState(), NotCalibrated);
    EXPECT_EQ(data.GetCalibrationCamToDMD(), Numbered(40)) << "the loaded calibration stays";
    EXPECT_EQ(data.GetLoadedKey(), kCurrentKey);
}

TEST_F(CalibrationData, EmptyDeviceSectionResetsToIdentitiesAndNotCalibrated) {
    WriteFile(kDevice, {{kCurrentKey, Numbered(30), Numbered(40)}});
    CZtCalibrationData data(&m_owner);
    SetCurrent(&data);
    bool changed = false;
    ASSERT_EQ(data.LoadCalibration(&changed), 0);
    ASSERT_EQ(data.GetCalibrationState(), Calibrated);

    WriteFile(kDevice, {});
    EXPECT_EQ(data.LoadCalibration(&changed), -13);
    EXPECT_EQ(data.GetCalibrationCamToDMD(), kIdentity);
    EXPECT_EQ(data.GetCalibrationDMDToCam(), kIdentity);
    EXPECT_EQ(data.GetCalibrationState(), NotCalibrated);
    EXPECT_EQ(data.GetLoadedKey(), L"");
    CZtConfigurationData* calibration = data.LockCalibrationConfiguration();
    EXPECT_FALSE(calibration->IsValid());
    data.UnlockCalibrationConfiguration();

    // Another device's calibrations are not this device's.
    WriteFile(L"CZtStimulationDeviceVerove_1", {{kCurrentKey, Numbered(30), Numbered(40)}});
    EXPECT_EQ(data.LoadCalibration(&changed), -13);
    EXPECT_EQ(data.GetCalibrationState(), NotCalibrated);
}

TEST_F(CalibrationData, SavingReplacesOneKeysSixValuesAndKeepsEverythingElse) {
    WriteFile(L"CZtStimulationDeviceVerove_1", {{kCurrentKey, Numbered(50), Numbered(50)}});
    CZtCalibrationData data(&m_owner);
    data.SetCalibrationDMDToCam(Numbered(10));
    data.SetCalibrationCamToDMD(Numbered(20));
    ASSERT_EQ(data.SaveCalibrationMatrices(kCurrentKey), 0);
    data.SetCalibrationDMDToCam(Numbered(30));
    data.SetCalibrationCamToDMD(Numbered(40));
    ASSERT_EQ(data.SaveCalibrationMatrices(kOtherObjective), 0);
    data.SetCalibrationDMDToCam(Numbered(60));
    data.SetCalibrationCamToDMD(Numbered(70));
    ASSERT_EQ(data.SaveCalibrationMatrices(kCurrentKey), 0);

    const auto values = StoredValues(kCurrentKey);
    ASSERT_EQ(values.size(), 6u);
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(values[i], std::make_pair(60.0 + i, 70.0 + i)) << "element " << i;
    }
    const auto kept = StoredValues(kOtherObjective);
    ASSERT_EQ(kept.size(), 6u);
    EXPECT_EQ(kept[5], std::make_pair(35.0, 45.0));
    auto keys = StoredKeys();
    std::sort(keys.begin(), keys.end());
    EXPECT_EQ(keys, (std::vector<std::wstring>{kCurrentKey, kOtherObjective}));
    EXPECT_EQ(StoredKeys(L"CZtStimulationDeviceVerove_1"), std::vector<std::wstring>{kCurrentKey});

    CZtLiteVariantW tree;
    ASSERT_EQ(ZT_LoadSettingsFile(kFile, &tree), 0);
    CZtLiteVariantR reader(tree);
    ASSERT_EQ(reader.OpenLevel(L"Verove"), 0);
    EXPECT_EQ(reader.GetInt(L"FileVersion", 0), 8) << "other settings stay";
}

TEST_F(CalibrationData, ClearingRemovesOnlyThisDevicesCalibrations) {
    WriteFile(L"CZtStimulationDeviceVerove_1", {{kCurrentKey, Numbered(50), Numbered(50)}});
    CZtCalibrationData data(&m_owner);
    SetCurrent(&data);
    data.SetCalibrationCamToDMD(Numbered(20));
    ASSERT_EQ(data.SaveCalibrationMatrices(kCurrentKey), 0);
    ASSERT_EQ(data.SaveCalibrationMatrices(kOtherObjective), 0);
    bool changed = false;
    ASSERT_EQ(data.LoadCalibration(&changed), 0);
    ASSERT_EQ(data.GetCalibrationState(), Calibrated);

    EXPECT_EQ(data.ClearCalibrations(), -13);
    EXPECT_TRUE(StoredKeys().empty());
    EXPECT_EQ(StoredKeys(L"CZtStimulationDeviceVerove_1"), std::vector<std::wstring>{kCurrentKey});
    EXPECT_EQ(data.GetCalibrationState(), NotCalibrated);
    EXPECT_EQ(data.GetCalibrationCamToDMD(), kIdentity);
    EXPECT_EQ(data.GetLoadedKey(), L"");
    std::wstring key = kCurrentKey;
    EXPECT_EQ(data.FindCalibration(&key), -13);

    // A calibration saved after clearing is found again.
    data.SetCalibrationCamToDMD(Numbered(80));
    ASSERT_EQ(data.SaveCalibrationMatrices(kCurrentKey), 0);
    EXPECT_EQ(data.LoadCalibration(&changed), 0);
    EXPECT_EQ(data.GetCalibrationCamToDMD(), Numbered(80));
    EXPECT_EQ(data.GetCalibrationState(), Calibrated);
}

TEST_F(CalibrationData, FindCalibrationFallsBackToTheKeyWithoutRotation) {
    CZtCalibrationData data(&m_owner);
    std::wstring key = kCurrentKey;
    EXPECT_EQ(data.FindCalibration(&key), -13) << "no calibration levels";

    WriteFile(kDevice, {{kWithoutRotation, Numbered(1), Numbered(1)},
                        {L"#F#O#R0.000000", Numbered(2), Numbered(2)}});
    key = kCurrentKey;
    EXPECT_EQ(data.FindCalibration(&key), 0);
    EXPECT_EQ(key, kWithoutRotation);

    key = L"#F#O#R0.000000";
    EXPECT_EQ(data.FindCalibration(&key), 0) << "the exact key first";
    EXPECT_EQ(key, L"#F#O#R0.000000");
    key = L"#F#O#R45.000000";
    EXPECT_EQ(data.FindCalibration(&key), -5) << "rotation token at the end";
    EXPECT_EQ(key, L"#F#O");
    key = kOtherCamera;
    EXPECT_EQ(data.FindCalibration(&key), -5);
}

TEST_F(CalibrationData, FindCalibrationForCameraGivesTheFirstKeyOfThatCamera) {
    CZtCalibrationData data(&m_owner);
    SZtConfigurationStringParts parts;
    EXPECT_EQ(data.FindCalibrationForCamera(L"Cam2", &parts), -13);
    WriteFile(kDevice, {{kOtherObjective, Numbered(1), Numbered(1)},
                        {kOtherCamera, Numbered(2), Numbered(2)}});
    ASSERT_EQ(data.FindCalibrationForCamera(L"Cam2", &parts), 0);
    EXPECT_EQ(parts.camera, L"Cam2");
    EXPECT_EQ(parts.objective, L"P20");
    ASSERT_EQ(data.FindCalibrationForCamera(L"Cam1", &parts), 0);
    EXPECT_EQ(parts.objective, L"P40");
    EXPECT_EQ(data.FindCalibrationForCamera(L"Cam", &parts), -13);
}

TEST_F(CalibrationData, RotationIsKeptWithinOneTurn) {
    CZtCalibrationData data(&m_owner);
    EXPECT_EQ(data.SetCameraRotation(-270), 0);
    EXPECT_EQ(data.GetCameraRotation(), 90.0);
    EXPECT_EQ(data.GetCurrentConfigurationString(), L"#F#O#R90.000000#C");
    EXPECT_EQ(data.SetCameraRotation(450), 0);
    EXPECT_EQ(data.GetCameraRotation(), 90.0);
}

// The stored matrices hold for the unturned sensor. Turned or mirrored, the mapping takes the
// chip point the host gives for a displayed pixel to where the stored matrix takes that pixel's
// sensor point, on a sensor wider than high, whose displayed centre moves with a quarter turn.
TEST_F(CalibrationData, TurnedCameraMapsEachDisplayedPixelThroughItsSensorPoint) {
    m_owner.format.value.sensorRect = {0, 0, 100, 60};
    m_owner.format.value.imageRect = {0, 0, 100, 60};
    const CZtMatrix3 camToDmd = {2, 0.1, -60, -0.1, 2, -80, 0, 0, 1};
    for (bool flip : {false, true}) {
        m_grabber.angleParams[3] = flip ? -1.0 : 1.0;
        m_owner.format.value.flipY = flip;
        CZtCalibrationData data(&m_owner);
        data.UpdateTranslationVector();
        data.SetCalibrationCamToDMD(camToDmd);
        for (double degrees : {0.0, 90.0, 180.0, 270.0, 30.0}) {
            ASSERT_EQ(data.SetCameraRotation(degrees), 0);
            ASSERT_EQ(data.UpdateFlipMatrix(), 0);
            const double radians = degrees * 3.1415926535898 / 180.0;
            CZtMatrix3 imageToChip{};
            CZtMatrix3 imageToSensor{};
            ASSERT_EQ(CalcTransformImgToChip(&m_owner.format, radians, nullptr, nullptr, false,
                                             imageToChip.data()),
                      0);
            ASSERT_EQ(zthost::CalcTransformImageToSensor(&m_owner.format, radians, nullptr,
                                                         imageToSensor.data()),
                      0);
            for (const auto& [x, y] : {std::pair{10.0, 20.0}, std::pair{55.0, 95.0}}) {
                const auto chip = Apply(imageToChip, x, y);
                const auto sensor = Apply(imageToSensor, x, y);
                const auto expected = Apply(camToDmd, sensor[0], sensor[1]);
                const auto dmd = Apply(data.GetMappingCamToDMD(), chip[0], chip[1]);
                EXPECT_NEAR(dmd[0], expected[0], 1e-6) << degrees << " degrees, flip " << flip;
                EXPECT_NEAR(dmd[1], expected[1], 1e-6) << degrees << " degrees, flip " << flip;
            }
        }
    }
}

TEST_F(CalibrationData, SingularCalibrationIsNotCalibrated) {
    CZtCalibrationData data(&m_owner);
    data.SetCalibrationCamToDMD(Numbered(1));  // rows (1 2 3), (4 5 6), (0 0 1): fine
    data.SetCalibrationCamToDMD({1, 2, 3, 2, 4, 6, 0, 0, 1});
    EXPECT_EQ(data.GetCalibrationState(), NotCalibrated);
}

// Loads and camera rotations from different threads: run under ThreadSanitizer too.
TEST_F(CalibrationData, LoadRacingCameraRotationStaysConsistent) {
    WriteFile(kDevice,
              {{kCurrentKey, Numbered(30), Numbered(40)},
               {L"#F$KTurret1$NGFP$P2#OP20#R180.000000#L3#CCam1", Numbered(50), Numbered(60)}});
    CZtCalibrationData data(&m_owner);
    SetCurrent(&data);
    std::atomic<bool> stop{false};
    std::thread rotator([&] {
        for (int i = 0; !stop; ++i) {
            data.SetCameraRotation(i % 2 ? 90 : 180);
            data.GetMappingDMDToCam();
        }
    });
    std::thread reader([&] {
        while (!stop) {
            data.GetCalibrationState();
            data.GetCurrentConfigurationString();
            data.GetCameraRect();
        }
    });
    for (int i = 0; i < 40; ++i) {
        bool changed = false;
        EXPECT_EQ(data.LoadCalibration(&changed), 0);
        data.SetCameraRect({0, 0, i, i});
    }
    stop = true;
    rotator.join();
    reader.join();

    // Whatever the last rotation, loading now picks the calibration of that rotation.
    bool changed = false;
    ASSERT_EQ(data.LoadCalibration(&changed), 0);
    EXPECT_EQ(data.GetCalibrationState(), Calibrated);
    const bool at90 = data.GetCameraRotation() == 90.0;
    EXPECT_EQ(data.GetCalibrationCamToDMD(), at90 ? Numbered(40) : Numbered(60));
    EXPECT_EQ(data.GetLoadedKey(), data.GetCurrentConfigurationString());
}

}  // namespace
