// Licence options of the reference host: it holds the base licence and no optional module.
#include "zt/zt_util.h"

bool Q9_Obsolete_IsLoTrue(const wchar_t* option) {
    return !option || option[0] == L'\0';
}
