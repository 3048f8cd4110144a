// ScanAreaForm: the grabber's scan-area form, the GUI element holding a scanning grabber's scan
// area.
#pragma once

#include <mutex>

#include "zt/zt_class.h"
#include "zt/zt_grabber.h"

// Thread-safe.
class ScanAreaForm : public CZtClass, public IZtScanAreaElement {
public:
    explicit ScanAreaForm(const SZtScanAreaDesc& desc) : m_desc(desc) {}

    // Answers "CZtScanAreaElement" with the IZtScanAreaElement.
    void* QueryInterface(const char* interfaceName) override;
    int GetScanAreaDesc(SZtScanAreaDesc* desc) override;
    void SetScanAreaDesc(const SZtScanAreaDesc& desc);

private:
    ~ScanAreaForm() override = default;

    std::mutex m_mutex;
    SZtScanAreaDesc m_desc;
};
