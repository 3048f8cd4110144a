// The brand names under which the device is shown.
#include "cztverovenamemanager.h"

#include <mutex>
#include <set>
#include <string>

#include "zt/zt_util.h"

namespace {

// Every translation handed out is kept for the program's lifetime, so the providers can return
// plain pointers that stay valid even when the host's translation changes later.
const wchar_t* Translated(const wchar_t* text) {
    static std::mutex mutex;
    static std::set<std::wstring> texts;
    const std::wstring translation = ZT_GetTranslation(text).Str();
    std::lock_guard lock(mutex);
    return texts.insert(translation).first->c_str();
}

}  // namespace

const wchar_t* CZtVeroveNameProviderAndor::GetDisplayName() {
    return Translated(L"Andor Verove 3");
}

const wchar_t* CZtVeroveNameProviderVelmar::GetDisplayName() {
    return Translated(L"Velmar DMD");
}

CZtVeroveNameManager& CZtVeroveNameManager::Instance() {
    static CZtVeroveNameManager manager;
    return manager;
}

void CZtVeroveNameManager::SetBrand(int brand) {
    static CZtVeroveNameProviderAndor andor;
    static CZtVeroveNameProviderVelmar velmar;
    static CZtVeroveNameProviderNone none;
    m_brand = brand;
    m_provider = brand == 1   ? static_cast<IZtVeroveNameProvider*>(&andor)
                 : brand == 2 ? static_cast<IZtVeroveNameProvider*>(&velmar)
                              : static_cast<IZtVeroveNameProvider*>(&none);
}
