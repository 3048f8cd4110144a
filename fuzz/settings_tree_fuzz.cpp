// Fuzz target: any bytes read as a settings file, and a file that reads saved and read again.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "zt/zt_settings.h"
#include "zthost/settings_store.h"
#include "zthost/zthost.h"

namespace {

std::filesystem::path g_folder;

void RemoveFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(g_folder, ignored);
}

const std::filesystem::path& Folder() {
    if (g_folder.empty()) {
        // Saves sync the file to disk: in memory where the machine offers a memory file system.
        const std::filesystem::path base = std::filesystem::is_directory("/dev/shm")
                                               ? std::filesystem::path("/dev/shm")
                                               : std::filesystem::temp_directory_path();
        g_folder = base / ("verove-fuzz-settings-" + std::to_string(getpid()));
        std::filesystem::create_directories(g_folder);
        zthost::SetSettingsLocation(g_folder.wstring());
        std::atexit(RemoveFolder);
    }
    return g_folder;
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
    const std::filesystem::path input = Folder() / "Input.bin";
    {
        std::ofstream out(input, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
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
