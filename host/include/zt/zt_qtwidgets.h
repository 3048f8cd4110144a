// The host's Qt widgets that device controls build on: the widget base, the widget on a native
// window, the laser-line control, the picker toggle button and the dialog base.
#pragma once

#include <QDialog>
#include <QPointer>
#include <QPushButton>
#include <QWidget>

#include "zt/zt_export.h"

class QAction;
class QDoubleSpinBox;
class QFrame;
class QLabel;
class QMenu;
class QSlider;
class QToolButton;

// GUI thread only, like every widget.
//
// The host's widget base: a widget whose style sheet also draws its own background and border,
// as the host's other widgets do.
class ZTHOST_API CZtQWidget : public QWidget {
    Q_OBJECT

public:
    explicit CZtQWidget(QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
};

// A Qt widget on a native parent window of the host: it lies in that window's layout and is shown
// whenever the window is shown.
class ZTHOST_API CZtQWinWidget : public QWidget {
    Q_OBJECT

public:
    // nativeParent is the window the host created for a control element; null makes a top-level
    // widget.
    explicit CZtQWinWidget(QWidget* nativeParent);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QPointer<QWidget> m_nativeParent;
};

// One line of a light source: its number and wavelength ("2: 488", the unit in the tooltip), a
// power editor (slider and number, 0 ... 100 %) drawn in the wavelength's colour, and a button that
// switches the line on and off.
// Style 0 shows everything; style 1 has no switch button (a light that is always used).
class ZTHOST_API CZtQLaserLine : public QWidget {
    Q_OBJECT

public:
    explicit CZtQLaserLine(QWidget* parent = nullptr);

    // The number shown, counted from 1.
    void SetLineNumber(int number);
    int GetLineNumber() const { return m_lineNumber; }
    void SetWavelength(int wavelengthNm);
    int GetWavelength() const { return m_wavelength; }
    void SetColor(const QColor& color);
    QColor GetColor() const { return m_color; }
    // Whether the slider's filled part takes the line's colour (else the host's highlight).
    void SetColorFillEnabled(bool enabled);
    bool IsColorFillEnabled() const { return m_colorFill; }
    void SetDecimals(int decimals);
    int GetDecimals() const;
    void SetStyle(int style);
    int GetStyle() const { return m_style; }

    // Programmatic changes: no signal.
    void SetPower(double percent);
    double GetPower() const;
    void SetLineEnabled(bool enabled);
    bool IsLineEnabled() const;

signals:
    // The user changed the power or switched the line.
    void powerChanged(double dPower);
    void lineEnabled(bool bEnabled);

private:
    void OnSliderMoved(int position);
    void OnSpinBoxEdited(double value);
    void UpdateLabel();
    void UpdateColors();
    int SliderScale() const;

    int m_lineNumber = 1;
    int m_wavelength = 0;
    int m_style = 0;
    bool m_colorFill = true;
    QColor m_color;
    QFrame* m_swatch = nullptr;
    QLabel* m_label = nullptr;
    QSlider* m_slider = nullptr;
    QDoubleSpinBox* m_spinBox = nullptr;
    QToolButton* m_enableButton = nullptr;
};

// A push button with two parts: the main part toggles a checked state of the picker's own (the
// Qt "checkable" and "checked" properties stay false), the arrow part on the right opens a menu of
// items. The button shows the current item's text.
class ZTHOST_API CZtPickerTogglePushButton : public QPushButton {
    Q_OBJECT

public:
    explicit CZtPickerTogglePushButton(QWidget* parent = nullptr);

    // Appends an item; index is kept as the action's data. The first item becomes current.
    QAction* AddItem(const QString& text, int index);
    QList<QAction*> GetItems() const;
    QAction* GetCurrentItem() const { return m_current; }
    // The current item's index; -1 without items.
    int GetCurrentIndex() const;
    // Makes the item with that index (or, below, that text) current and emits selectionChanged;
    // false when there is none.
    bool SetCurrentIndex(int index);
    bool SetCurrentText(const QString& text);
    // Emits checkedChanged when the state changes.
    void SetPickerChecked(bool checked);
    bool IsPickerChecked() const { return m_checked; }
    // Width of the arrow part, in pixels.
    int ArrowWidth() const;
    QSize sizeHint() const override;

signals:
    void checkedChanged(bool bChecked);
    void selectionChanged(QAction* pAction);

protected:
    void mouseReleaseEvent(QMouseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void Select(QAction* action);

    QMenu* m_menu = nullptr;
    QAction* m_current = nullptr;
    bool m_checked = false;
};

// The host's dialog base for plug-in dialogs shown over a host window.
class ZTHOST_API CZtQ9DialogForQt : public QDialog {
    Q_OBJECT

public:
    explicit CZtQ9DialogForQt(QWidget* parent = nullptr);

    // Shows the dialog modeless over hostWindow (its top-level window), centred on it when
    // center is set. 0; -4 for a null host window.
    int ShowDialog(QWidget* hostWindow, bool center);
    // Runs the dialog modally over hostWindow: the host's main window is disabled meanwhile.
    // extraFlags are Qt window flags added to the dialog's. Returns QDialog::Accepted (1) or
    // QDialog::Rejected (0); -4 for a null host window.
    int DoModal(QWidget* hostWindow, bool center, int extraFlags);
    // Whether the dialog is shown now.
    bool IsVisible() const;

signals:
    // The window was closed by its close button or close(), neither accepted nor rejected.
    void closed();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void Place(QWidget* hostWindow, bool center);
};
