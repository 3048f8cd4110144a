// One laser line of the pad.
#include "cztverovelaserline.h"

#include <QApplication>
#include <QBoxLayout>
#include <cmath>

#include "cztqlaserlinewrapper.h"
#include "zt/zt_qtwidgets.h"

namespace {

int LineHeight(double zoom) {
    return static_cast<int>(std::lround(40.0 * zoom));
}

}  // namespace

CZtVeroveLaserLine::CZtVeroveLaserLine(
    QWidget* parent, const std::array<QWidget*, ZT_STIM_GROUP_COUNT>& groupParents,
    std::uint32_t lineNumber, std::uint32_t wavelength, bool simpleStyle)
    : QWidget(parent) {
    setAttribute(Qt::WA_NoSystemBackground);
    setAutoFillBackground(false);
    const int height = LineHeight(ZT_GetGUIZoom());
    for (int g = 0; g < ZT_STIM_GROUP_COUNT; ++g) {
        auto* wrapper = new CZtQLaserLineWrapper(groupParents[g]);
        wrapper->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
        auto* layout = new QHBoxLayout(wrapper);
        layout->setContentsMargins(0, 0, 0, 0);
        auto* line = new CZtQLaserLine(wrapper);
        line->setObjectName(QStringLiteral("laser_line_%1_%2").arg(lineNumber).arg(g));
        layout->addWidget(line);
        if (simpleStyle) {
            line->SetStyle(1);
        }
        line->setFixedHeight(height);
        if (groupParents[g]) {
            if (auto* pageLayout = qobject_cast<QBoxLayout*>(groupParents[g]->layout())) {
                pageLayout->addWidget(wrapper);
            }
        }
        m_lines[g] = line;
        m_wrappers[g] = wrapper;
        m_connections[2 * g] = connect(line, &CZtQLaserLine::powerChanged, this,
                                       &CZtVeroveLaserLine::OnLinePowerChanged);
        m_connections[2 * g + 1] = connect(line, &CZtQLaserLine::lineEnabled, this,
                                           &CZtVeroveLaserLine::OnLineUsedChanged);
        m_visibleGroups.set(static_cast<size_t>(g));
    }
    setFixedHeight(height);
    SetWavelength(wavelength);
    SetLineNumber(lineNumber);
    SetDecimals(1);
}

CZtVeroveLaserLine::~CZtVeroveLaserLine() {
    for (const QMetaObject::Connection& connection : m_connections) {
        disconnect(connection);
    }
    // Controls still on a page would outlive the line they belong to.
    for (const QPointer<CZtQLaserLineWrapper>& wrapper : m_wrappers) {
        delete wrapper.data();
    }
}

void CZtVeroveLaserLine::Dispose() {
    for (const QPointer<CZtQLaserLineWrapper>& wrapper : m_wrappers) {
        if (wrapper) {
            wrapper->hide();
            wrapper->setParent(this);
        }
    }
    setParent(nullptr);
    deleteLater();
}

CZtQLaserLine* CZtVeroveLaserLine::GetLine(EZtStimGroup group) const {
    return group >= 0 && group < ZT_STIM_GROUP_COUNT ? m_lines[group] : nullptr;
}

double CZtVeroveLaserLine::GetLinePower(EZtStimGroup group) const {
    CZtQLaserLine* line = GetLine(group);
    return line ? line->GetPower() : 0.0;
}

bool CZtVeroveLaserLine::GetLineUsed(EZtStimGroup group) const {
    CZtQLaserLine* line = GetLine(group);
    return line && line->IsLineEnabled();
}

void CZtVeroveLaserLine::SetLinePower(EZtStimGroup group, double power) {
    if (CZtQLaserLine* line = GetLine(group)) {
        line->SetPower(power);
    }
}

void CZtVeroveLaserLine::SetLineUsed(EZtStimGroup group, bool used) {
    if (CZtQLaserLine* line = GetLine(group)) {
        line->SetLineEnabled(used);
    }
}

void CZtVeroveLaserLine::SetColorFillEnabled(EZtStimGroup group, bool enabled) {
    if (CZtQLaserLine* line = GetLine(group)) {
        line->SetColorFillEnabled(enabled);
    }
}

void CZtVeroveLaserLine::SetLineNumber(std::uint32_t lineNumber) {
    m_lineNumber = lineNumber;
    for (CZtQLaserLine* line : m_lines) {
        line->SetLineNumber(static_cast<int>(lineNumber) + 1);
    }
}

void CZtVeroveLaserLine::SetWavelength(std::uint32_t wavelength) {
    m_wavelength = wavelength;
    const QColor color = ZT_WavelengthToRGB(wavelength);
    for (CZtQLaserLine* line : m_lines) {
        line->SetWavelength(static_cast<int>(wavelength));
        line->SetColor(color);
    }
}

void CZtVeroveLaserLine::SetDecimals(int decimals) {
    for (CZtQLaserLine* line : m_lines) {
        line->SetDecimals(decimals);
    }
}

bool CZtVeroveLaserLine::IsGroupVisible(EZtStimGroup group) const {
    return group >= 0 && group < ZT_STIM_GROUP_COUNT && m_visibleGroups.test(group);
}

void CZtVeroveLaserLine::SetGroupVisible(int group, bool visible) {
    if (m_wrappers[group]) {
        m_wrappers[group]->setVisible(visible);
    }
    m_visibleGroups.set(static_cast<size_t>(group), visible);
    emit LineVisibilityChanged(static_cast<EZtStimGroup>(group));
}

void CZtVeroveLaserLine::ShowAll() {
    for (int g = 0; g < ZT_STIM_GROUP_COUNT; ++g) {
        SetGroupVisible(g, true);
    }
}

void CZtVeroveLaserLine::HideAll() {
    for (int g = 0; g < ZT_STIM_GROUP_COUNT; ++g) {
        SetGroupVisible(g, false);
    }
}

void CZtVeroveLaserLine::ApplyZoom(double zoom) {
    for (CZtQLaserLine* line : m_lines) {
        line->setFixedHeight(LineHeight(zoom));
        QApplication::processEvents();
    }
}

QSize CZtVeroveLaserLine::sizeHint() const {
    return QSize(100, LineHeight(ZT_GetGUIZoom()));
}

int CZtVeroveLaserLine::SenderGroup() const {
    for (int g = 0; g < ZT_STIM_GROUP_COUNT; ++g) {
        if (sender() == m_lines[g]) {
            return g;
        }
    }
    return -1;
}

void CZtVeroveLaserLine::OnLinePowerChanged(double dPower) {
    const int group = SenderGroup();
    if (group >= 0) {
        emit LinePowerChanged(static_cast<EZtStimGroup>(group), dPower);
    }
}

void CZtVeroveLaserLine::OnLineUsedChanged(bool bUsed) {
    const int group = SenderGroup();
    if (group >= 0) {
        emit LineUsedChanged(static_cast<EZtStimGroup>(group), bUsed);
    }
}
