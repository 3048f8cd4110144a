// An SDK library that lacks most entry points: the loader must refuse it without calling it.
#include "atcore.h"

extern "C" __attribute__((visibility("default"))) int AT_InitialiseLibrary() {
    return AT_SUCCESS;
}
