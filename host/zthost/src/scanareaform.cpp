// The grabber's scan-area form.
#include "scanareaform.h"

#include <cstring>

void* ScanAreaForm::QueryInterface(const char* interfaceName) {
    if (interfaceName && std::strcmp(interfaceName, "CZtScanAreaElement") == 0) {
        AddRef();
        return static_cast<IZtScanAreaElement*>(this);
    }
    return CZtClass::QueryInterface(interfaceName);
}

int ScanAreaForm::GetScanAreaDesc(SZtScanAreaDesc* desc) {
    if (!desc) {
        return -4;
    }
    std::lock_guard lock(m_mutex);
    *desc = m_desc;
    return 0;
}

void ScanAreaForm::SetScanAreaDesc(const SZtScanAreaDesc& desc) {
    std::lock_guard lock(m_mutex);
    m_desc = desc;
}
