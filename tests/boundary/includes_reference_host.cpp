// Compiled with the plug-in's usage requirements only: the reference host's own headers must not
// be found, so this file fails to compile (the HostBoundary test expects that).
#include "zthost/zthost.h"
