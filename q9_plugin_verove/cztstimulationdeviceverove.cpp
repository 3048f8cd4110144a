// The stimulation device the host sees as one Verove.
#include "cztstimulationdeviceverove.h"

#include <cstring>

void* CZtStimulationDeviceVerove::QueryInterface(const char* interfaceName) {
    if (interfaceName && std::strcmp(interfaceName, "IZtStimulationDevice") == 0) {
        AddRef();
        return static_cast<IZtStimulationDevice*>(this);
    }
    return CZtClass::QueryInterface(interfaceName);
}
