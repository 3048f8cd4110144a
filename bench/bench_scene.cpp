// The benchmark scene: calibration, camera format and stimulation areas of a typical setup.
#include "bench_scene.h"

#include <cmath>
#include <vector>

#include "cztcalibrationowner.h"

class CBenchScene::Owner : public IZtCalibrationOwner {
public:
    CZtStringW GetUniqueName() override { return L"CZtStimulationDeviceVerove_0"; }
    CZtStringW GetSettingsFileName() override { return L"VeroveBench.bin"; }
    IZtGrabberProvider* GetGrabberProvider() override { return nullptr; }
    bool HasDriver() override { return false; }
    int GetCurrentFormat(SZtGrabberFormatDesc*) override { return -1; }
    void SetCalibrated(EZtCalibrationState) override {}
};

CBenchScene::CBenchScene(std::uint32_t dmdWidth, std::uint32_t dmdHeight)
    : width(dmdWidth),
      height(dmdHeight),
      m_owner(std::make_unique<Owner>()),
      m_calibration(std::make_unique<CZtCalibrationData>(m_owner.get())) {
    // The image (binned by two) is a fifth larger than the DMD; one mirror covers one image pixel,
    // turned by 8 degrees about the centres.
    const auto imageWidth = static_cast<std::int32_t>(width * 6 / 5);
    const auto imageHeight = static_cast<std::int32_t>(height * 6 / 5);
    format.sensorRect = {0, 0, imageWidth * 2, imageHeight * 2};
    format.imageRect = format.sensorRect;
    format.binningX = format.binningY = 2.0;

    const double angle = 8.0 * M_PI / 180.0;
    const double c = 2.0 * std::cos(angle);
    const double s = 2.0 * std::sin(angle);
    const double dx = width / 2.0;
    const double dy = height / 2.0;
    const double dmdToSensor[9] = {
        c, -s, imageWidth - (c * dx - s * dy), s, c, imageHeight - (s * dx + c * dy), 0, 0, 1};
    CZtMatrix3 cameraToDmd;
    InvertMatrix(3, dmdToSensor, cameraToDmd.data());
    m_calibration->SetCalibrationCamToDMD(cameraToDmd);

    SZtGrabberFormatDesc desc;
    desc.value = format;
    double chipToImage[9];
    CalcTransformChipToImg(&desc, 0.0, nullptr, nullptr, false, chipToImage);
    const CZtMatrix3 dmdToCamera = m_calibration->GetMappingDMDToCam();
    for (int r = 0; r < 3; ++r) {
        for (int k = 0; k < 3; ++k) {
            m_dmdToImage[r * 3 + k] = chipToImage[r * 3] * dmdToCamera[k] +
                                      chipToImage[r * 3 + 1] * dmdToCamera[3 + k] +
                                      chipToImage[r * 3 + 2] * dmdToCamera[6 + k];
        }
    }

    const double w = imageWidth;
    const double h = imageHeight;
    CZtRLEPicBufAPI::Alloc(&m_mask, imageWidth, imageHeight, 8);
    CZtRLEPicBufAPI::AddRectangle(&m_mask, 1, int(0.12 * w), int(0.15 * h), int(0.45 * w),
                                  int(0.5 * h));
    const double triangle[] = {0.55 * w, 0.2 * h, 0.9 * w, 0.3 * h, 0.6 * w, 0.7 * h};
    CZtRLEPicBufAPI::AddPolygon(&m_mask, 2, triangle, 3);
    std::vector<double> round;
    for (int i = 0; i < 64; ++i) {
        round.push_back(0.3 * w + 0.15 * w * std::cos(i * M_PI / 32));
        round.push_back(0.75 * h + 0.15 * h * std::sin(i * M_PI / 32));
    }
    CZtRLEPicBufAPI::AddPolygon(&m_mask, 3, round.data(), 64);
    CZtRLEPicBufAPI::ToPicture(&m_mask, &m_cameraPicture);
}

CBenchScene::~CBenchScene() = default;

CZtPattern CBenchScene::AreaPattern(bool gradient) const {
    CZtPattern pattern(L"S1", width, height);
    pattern.SetBitmap(nullptr);
    pattern.SetId(3);
    pattern.SetMapping(1);
    pattern.SetKind(0);
    const std::uint32_t mode = gradient ? 2 : 0;
    pattern.SetStimulationAreas({{mode, 20, 90}, {mode, 10, 60}, {mode, 40, 100}}, &m_mask);
    return pattern;
}

CZtPattern CBenchScene::BitmapPattern() const {
    SZtPicBuf bitmap;
    CZtPicBufAPI::Alloc(&bitmap, width, height, 8, 1);
    for (std::uint32_t y = 0; y < height; ++y) {
        for (std::uint32_t x = 0; x < width; ++x) {
            const double r = std::hypot(x - width / 2.0, y - height / 2.0);
            bitmap.Row(y)[x] = static_cast<std::uint8_t>(127.5 + 127.5 * std::cos(r / 9.0));
        }
    }
    CZtPattern pattern(L"Rings", width, height);
    pattern.SetBitmap(&bitmap);
    pattern.SetId(6);
    pattern.SetKind(1);
    return pattern;
}
