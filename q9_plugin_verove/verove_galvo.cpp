#include "verove_galvo.h"

#include "zt/zt_camera.h"
#include "zt/zt_devices.h"
#include "zt/zt_util.h"

namespace {

constexpr unsigned kErrorBoxTopMost = 0x40000 | ZT_MB_ICONERROR;

}  // namespace

EZtVeroveGalvo VeroveFindGalvo(DMApi* devices) {
    if (!devices) {
        return EZtVeroveGalvo::None;
    }
    int galvoCount = 0;
    if (devices->DMApi_GalvoXY_GetCount(&galvoCount) == 0 && galvoCount >= 1) {
        return EZtVeroveGalvo::Scanner;
    }
    int count = 0;
    devices->LogDev_GetCount(&count);
    for (int i = 0; i < count; ++i) {
        ZT_DWORD id = 0;
        bool has = false;
        if (devices->LogDev_GetId(i, &id) == 0 &&
            devices->LogDev_HasCapability(id, ZT_LOGDEV_CAP_GALVO_XY, &has) == 0 && has) {
            return EZtVeroveGalvo::Capability;
        }
    }
    return EZtVeroveGalvo::None;
}

void VeroveShowGalvoRefusal(const CZtStringW& text) {
    if (ZT_GetGalvoMessageShown()) {
        return;
    }
    ZT_SetGalvoMessageShown(true);
    ZT_MessageBox_(nullptr, text.GetString(),
                   ZT_GetTranslation(L"Invalid HW Configuration").GetString(), kErrorBoxTopMost);
}
