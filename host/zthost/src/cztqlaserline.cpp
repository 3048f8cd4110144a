// CZtQLaserLine: the host's control of one line of a light source.
#include <QDoubleSpinBox>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QSignalBlocker>
#include <QSlider>
#include <QToolButton>
#include <cmath>

#include "zt/zt_gui.h"
#include "zt/zt_qtwidgets.h"

CZtQLaserLine::CZtQLaserLine(QWidget* parent) : QWidget(parent) {
    m_swatch = new QFrame(this);
    m_swatch->setObjectName(QStringLiteral("laserLineColor"));
    m_swatch->setFixedWidth(6);
    m_label = new QLabel(this);
    m_label->setObjectName(QStringLiteral("laserLineLabel"));
    m_slider = new QSlider(Qt::Horizontal, this);
    m_slider->setObjectName(QStringLiteral("laserLinePowerSlider"));
    m_spinBox = new QDoubleSpinBox(this);
    m_spinBox->setObjectName(QStringLiteral("laserLinePower"));
    m_spinBox->setRange(0.0, 100.0);
    m_spinBox->setKeyboardTracking(false);
    m_spinBox->setButtonSymbols(QAbstractSpinBox::NoButtons);
    m_enableButton = new QToolButton(this);
    m_enableButton->setObjectName(QStringLiteral("laserLineEnable"));
    m_enableButton->setCheckable(true);
    m_enableButton->setText(QStringLiteral("On"));

    // The slider takes what the label, the number and the switch leave of a narrow control.
    const QFontMetrics metrics(font());
    m_label->setFixedWidth(metrics.horizontalAdvance(QStringLiteral("8: 888")) + 12);
    m_spinBox->setFixedWidth(metrics.horizontalAdvance(QStringLiteral("100.0")) + 14);
    m_enableButton->setFixedWidth(metrics.horizontalAdvance(QStringLiteral("Off")) + 14);
    m_slider->setMinimumWidth(40);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(2, 2, 2, 2);
    layout->setSpacing(3);
    layout->addWidget(m_swatch);
    layout->addWidget(m_label);
    layout->addWidget(m_slider, 1);
    layout->addWidget(m_spinBox);
    layout->addWidget(m_enableButton);

    SetDecimals(1);
    connect(m_slider, &QSlider::valueChanged, this, &CZtQLaserLine::OnSliderMoved);
    connect(m_spinBox, qOverload<double>(&QDoubleSpinBox::valueChanged), this,
            &CZtQLaserLine::OnSpinBoxEdited);
    connect(m_enableButton, &QToolButton::toggled, this, [this](bool checked) {
        m_enableButton->setText(checked ? QStringLiteral("On") : QStringLiteral("Off"));
        emit lineEnabled(checked);
    });
    m_enableButton->setText(QStringLiteral("Off"));
    UpdateLabel();
    UpdateColors();
}

int CZtQLaserLine::SliderScale() const {
    return static_cast<int>(std::lround(std::pow(10.0, m_spinBox->decimals())));
}

void CZtQLaserLine::OnSliderMoved(int position) {
    const double power = static_cast<double>(position) / SliderScale();
    {
        const QSignalBlocker blocker(m_spinBox);
        m_spinBox->setValue(power);
    }
    emit powerChanged(m_spinBox->value());
}

void CZtQLaserLine::OnSpinBoxEdited(double value) {
    {
        const QSignalBlocker blocker(m_slider);
        m_slider->setValue(static_cast<int>(std::lround(value * SliderScale())));
    }
    emit powerChanged(value);
}

void CZtQLaserLine::SetLineNumber(int number) {
    m_lineNumber = number;
    UpdateLabel();
}

void CZtQLaserLine::SetWavelength(int wavelengthNm) {
    m_wavelength = wavelengthNm;
    UpdateLabel();
}

void CZtQLaserLine::SetColor(const QColor& color) {
    m_color = color;
    UpdateColors();
}

void CZtQLaserLine::SetColorFillEnabled(bool enabled) {
    m_colorFill = enabled;
    UpdateColors();
}

void CZtQLaserLine::SetDecimals(int decimals) {
    const double power = m_spinBox->value();
    const QSignalBlocker spinBlocker(m_spinBox);
    const QSignalBlocker sliderBlocker(m_slider);
    m_spinBox->setDecimals(decimals);
    m_slider->setRange(0, 100 * SliderScale());
    m_spinBox->setValue(power);
    m_slider->setValue(static_cast<int>(std::lround(m_spinBox->value() * SliderScale())));
}

int CZtQLaserLine::GetDecimals() const {
    return m_spinBox->decimals();
}

void CZtQLaserLine::SetStyle(int style) {
    m_style = style;
    m_enableButton->setVisible(style != 1);
}

void CZtQLaserLine::SetPower(double percent) {
    const QSignalBlocker spinBlocker(m_spinBox);
    const QSignalBlocker sliderBlocker(m_slider);
    m_spinBox->setValue(percent);
    m_slider->setValue(static_cast<int>(std::lround(m_spinBox->value() * SliderScale())));
}

double CZtQLaserLine::GetPower() const {
    return m_spinBox->value();
}

void CZtQLaserLine::SetLineEnabled(bool enabled) {
    const QSignalBlocker blocker(m_enableButton);
    m_enableButton->setChecked(enabled);
    m_enableButton->setText(enabled ? QStringLiteral("On") : QStringLiteral("Off"));
}

bool CZtQLaserLine::IsLineEnabled() const {
    return m_enableButton->isChecked();
}

// The control is narrow: the unit goes into the tooltip.
void CZtQLaserLine::UpdateLabel() {
    m_label->setText(m_wavelength > 0 ? QStringLiteral("%1: %2").arg(m_lineNumber).arg(m_wavelength)
                                      : QString::number(m_lineNumber));
    m_label->setToolTip(
        m_wavelength > 0
            ? QStringLiteral("Line %1: %2 nm, power in %").arg(m_lineNumber).arg(m_wavelength)
            : QStringLiteral("Line %1, power in %").arg(m_lineNumber));
}

// The line's colour marks the line and fills the slider up to the power.
void CZtQLaserLine::UpdateColors() {
    const QColor color = m_color.isValid() ? m_color : ZT_GetSysColor(13);
    const QColor fill = m_colorFill ? color : ZT_GetSysColor(13);
    m_swatch->setStyleSheet(QStringLiteral("QFrame { background-color: %1; }").arg(color.name()));
    m_slider->setStyleSheet(
        QStringLiteral("QSlider::groove:horizontal { height: 6px; background: %1; }"
                       "QSlider::sub-page:horizontal { background: %2; }"
                       "QSlider::handle:horizontal { width: 8px; margin: -4px 0; background: %3; }")
            .arg(ZT_GetSysColor(16).name(), fill.name(), ZT_GetSysColor(18).name()));
}
