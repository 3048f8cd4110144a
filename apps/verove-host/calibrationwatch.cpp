// Following the auto-calibration worker through its log lines and the calibration document.
#include "calibrationwatch.h"

#include <QRegularExpression>
#include <QString>
#include <algorithm>
#include <cstring>
#include <string>

#include "terminal.h"
#include "zt/zt_util.h"
#include "zthost/camera_control.h"
#include "zthost/zthost.h"

namespace {

// The title the device gives the calibration document's view.
const wchar_t kCalibrationTitle[] = L"DMD Calibration";

bool SameFormat(const SZtPicBuf& a, const SZtPicBuf& b) {
    return a.width == b.width && a.height == b.height && a.bitsPerComponent == b.bitsPerComponent &&
           a.components == b.components;
}

bool SamePixels(const SZtPicBuf& a, const SZtPicBuf& b) {
    if (a.IsEmpty() || b.IsEmpty() || !SameFormat(a, b)) {
        return false;
    }
    const std::size_t bytes =
        std::size_t{a.width} * a.components * (a.bitsPerComponent > 8 ? 2 : 1);
    for (std::uint32_t y = 0; y < a.height; ++y) {
        if (std::memcmp(a.Row(y), b.Row(y), bytes) != 0) {
            return false;
        }
    }
    return true;
}

template <class Value>
void FoldMax(const SZtPicBuf& frame, SZtPicBuf* combined) {
    const std::size_t values = std::size_t{frame.width} * frame.components;
    for (std::uint32_t y = 0; y < frame.height; ++y) {
        const auto* from = reinterpret_cast<const Value*>(frame.Row(y));
        auto* to = reinterpret_cast<Value*>(combined->Row(y));
        for (std::size_t i = 0; i < values; ++i) {
            to[i] = std::max(to[i], from[i]);
        }
    }
}

}  // namespace

CalibrationWatch::CalibrationWatch(int wanted) : m_wanted(wanted) {}

void CalibrationWatch::Start() {
    m_start = ZT_GetTimeCounter();
    m_logRead = zthost::CapturedLog().size();
}

double CalibrationWatch::Seconds() const {
    return (ZT_GetTimeCounter() - m_start) / 1000.0;
}

void CalibrationWatch::Poll() {
    static const QRegularExpression found(QStringLiteral(
        R"(DMD point \d+ \[(-?[0-9.]+), (-?[0-9.]+)\] mapped to camera point \[(-?[0-9.]+), )"
        R"((-?[0-9.]+)\])"));
    const std::vector<std::wstring> log = zthost::CapturedLog();
    const std::size_t before = m_squares.size();
    for (std::size_t i = std::min(m_logRead, log.size()); i < log.size(); ++i) {
        const QRegularExpressionMatch match = found.match(QString::fromStdWString(log[i]));
        if (!match.hasMatch()) {
            continue;
        }
        m_squares.push_back({QPointF(match.captured(1).toDouble(), match.captured(2).toDouble()),
                             QPointF(match.captured(3).toDouble(), match.captured(4).toDouble())});
        terminal::Progress(QStringLiteral("      square %1/%2, %3 s")
                               .arg(m_squares.size())
                               .arg(m_wanted)
                               .arg(Seconds(), 0, 'f', 1));
    }
    m_logRead = log.size();
    if (m_squares.size() > before) {
        FoldDocumentFrame();
    }
}

void CalibrationWatch::FoldDocumentFrame() {
    const std::vector<zthost::DocumentInfo> documents = zthost::Documents();
    for (std::size_t i = 0; i < documents.size(); ++i) {
        const zthost::DocumentInfo& document = documents[i];
        const bool calibration =
            document.title == kCalibrationTitle ||
            std::find(document.viewTitles.begin(), document.viewTitles.end(),
                      std::wstring(kCalibrationTitle)) != document.viewTitles.end();
        SZtPicBuf frame;
        if (!calibration || zthost::DocumentPicture(i, &frame) != 0 || SamePixels(frame, m_last)) {
            continue;
        }
        const bool grey =
            frame.components == 1 && (frame.bitsPerComponent == 8 ||
                                      (frame.bitsPerComponent > 8 && frame.bitsPerComponent <= 16));
        if (!grey) {
            return;
        }
        if (m_combined.IsEmpty() || !SameFormat(frame, m_combined)) {
            CZtPicBufAPI::Copy(&frame, &m_combined);
            m_frames = 0;
        } else if (frame.bitsPerComponent == 8) {
            FoldMax<std::uint8_t>(frame, &m_combined);
        } else {
            FoldMax<std::uint16_t>(frame, &m_combined);
        }
        ++m_frames;
        m_last = std::move(frame);
        return;
    }
}
