// Fuzz target: any text parsed as a configuration string, rebuilt into a record and written again.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "cztconfigurationdata.h"
#include "zt/zt_string.h"
#include "zthost/zthost.h"

namespace {

std::wstring Rewritten(const std::wstring& text) {
    SZtConfigurationStringParts parts;
    ParseConfigurationString(text, &parts);
    CZtConfigurationData record;
    BuildConfigurationFromParts(parts, &record);
    return record.GetConfigurationString();
}

}  // namespace

// Stored keys are written by GetConfigurationString and looked up again by parsing: a written
// string must parse back to a record that writes exactly that string. Values arrive from the host
// as C strings, so the text is taken without NULs (a NUL would end a value when written). Since
// "<none>" is written empty, a text holding it may give two filters that write alike: then only
// the string written a second time has to be stable.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::wstring text =
        CZtStringW::FromUtf8(std::string_view(reinterpret_cast<const char*>(data), size)).Str();
    std::erase(text, L'\0');
    std::wstring written = Rewritten(text);
    if (text.find(L"<none>") != std::wstring::npos) {
        written = Rewritten(written);
    }
    if (Rewritten(written) != written) {
        std::abort();
    }
    // Every record logs its lock's lifetime; the capture would otherwise grow without bound.
    zthost::ClearCapturedLog();
    return 0;
}
