// The label of one row of the calibration tree: "name value", styled by whether the value matches
// the current configuration.
#pragma once

#include <QLabel>

// Thread-bound to the GUI thread.
class CZtCalibrationTreeInnerWidget : public QLabel {
    Q_OBJECT

public:
    CZtCalibrationTreeInnerWidget(const QString& text, bool matching, QWidget* parent = nullptr);
    // Sets the dynamic property "config_string_type" ("value_default" or "value_notmatching")
    // and applies the style sheet again, which does not follow a property change by itself.
    void SetMatching(bool matching);
    bool IsMatching() const;
};
