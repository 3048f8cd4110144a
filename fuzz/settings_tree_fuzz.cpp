// Fuzz target: any bytes read as a settings file, and a file that reads saved and read again.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "fuzz_folder.h"
#include "zt/zt_settings.h"
#include "zthost/settings_store.h"
#include "zthost/zthost.h"

namespace {

// The settings location; saves sync the file to disk, so it lies in memory where it can.
const std::filesystem::path& Folder() {
    static const std::filesystem::path& folder = []() -> const std::filesystem::path& {
        zthost::SetSettingsLocation(FuzzFolder("settings").wstring());
        return FuzzFolder("settings");
    }();
    return folder;
}

std::string FileBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Walks every item as a plug-in would read it back.
void ReadAll(CZtLiteVariantR* reader) {
    for (int more = reader->FirstChild(); more == 0; more = reader->NextChild()) {
        reader->GetChildName();
        switch (reader->GetChildType()) {
            case EZtVariantType::Level:
                reader->OpenChild();
                ReadAll(reader);
                reader->CloseLevel();
                break;
            case EZtVariantType::String:
                reader->GetChildString(L"");
                break;
            default:
                reader->GetChildDouble(0.0);
                reader->GetChildInt(0);
                break;
        }
    }
}

}  // namespace

// A file that reads must save and read again to the same content: the saved form is canonical.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Folder();
    WriteFuzzFile("settings", "Input.bin", data, size);
    CZtLiteVariantW tree;
    if (ZT_LoadSettingsFile(L"Input", &tree) == 0) {
        CZtLiteVariantR reader(tree);
        ReadAll(&reader);
        CZtLiteVariantW again;
        if (ZT_SaveSettingsFile(L"First", tree) != 0 ||
            ZT_LoadSettingsFile(L"First", &again) != 0 ||
            ZT_SaveSettingsFile(L"Second", again) != 0 ||
            FileBytes(Folder() / "First.bin") != FileBytes(Folder() / "Second.bin")) {
            std::abort();
        }
    } else if (!tree.IsEmpty()) {
        std::abort();  // a file that does not read leaves the tree empty
    }
    // Unreadable files are logged; the capture would otherwise grow without bound.
    zthost::ClearCapturedLog();
    return 0;
}
