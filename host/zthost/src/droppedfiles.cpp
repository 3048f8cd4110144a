// Files dropped on the application: the drop record DragQueryFileW reads, and the host's event.
#include <algorithm>
#include <cwchar>
#include <string>
#include <vector>

#include "zt/zt_module.h"
#include "zt/zt_util.h"
#include "zthost/gui.h"
#include "zthost/zthost.h"

struct HDROP__ {
    std::vector<std::wstring> paths;
};

unsigned DragQueryFileW(HDROP drop, unsigned index, wchar_t* buffer, unsigned size) {
    if (!drop) {
        return 0;
    }
    if (index == 0xFFFFFFFFu) {
        return static_cast<unsigned>(drop->paths.size());
    }
    if (index >= drop->paths.size()) {
        return 0;
    }
    const std::wstring& path = drop->paths[index];
    if (!buffer) {
        return static_cast<unsigned>(path.size());
    }
    if (size == 0) {
        return 0;
    }
    const std::size_t copied = std::min<std::size_t>(path.size(), size - 1);
    std::wmemcpy(buffer, path.data(), copied);
    buffer[copied] = L'\0';
    return static_cast<unsigned>(copied);
}

namespace zthost {

bool DropFiles(const std::vector<std::wstring>& paths) {
    HDROP__ drop{paths};
    bool handled = false;
    if (IZtPluginManager* plugins = PluginManager()) {
        plugins->SendModuleEvent(L"ZT_MODULEEVENT_PLUGIN_PROCESS_DRAGDROP",
                                 reinterpret_cast<std::intptr_t>(&drop), &handled, nullptr);
    }
    return handled;
}

}  // namespace zthost
