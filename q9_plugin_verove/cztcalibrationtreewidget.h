// The configuration dialog's list of the device's stored calibrations, each with the configuration
// it was measured in, marked against the current configuration.
#pragma once

#include <QTreeWidget>
#include <string>
#include <vector>

#include "cztconfigurationdata.h"

class IZtGrabberProvider;

// Thread-bound to the GUI thread.
class CZtCalibrationTreeWidget : public QTreeWidget {
    Q_OBJECT

public:
    explicit CZtCalibrationTreeWidget(QWidget* parent = nullptr);

    // Lists the stored keys in their order, "Calibration 1", "Calibration 2", ... counting only
    // the keys that parse; the one equal to currentKey in bold. grabber (may be null) names the
    // cameras.
    void Fill(const std::wstring& currentKey, const std::vector<std::wstring>& storedKeys,
              IZtGrabberProvider* grabber);
    const SZtConfigurationStringParts& GetCurrentParts() const { return m_current; }

private:
    SZtConfigurationStringParts m_current;
};
