// Diagnostics of the SDK library loader behind the AT_* functions.
#pragma once

#include <string>

namespace atcore_dyn {

// Full path of the SDK library loaded now; empty when none is loaded.
std::wstring LoadedLibraryPath();

}  // namespace atcore_dyn
