// A folder of the fuzzing process's own for the files its targets read, in memory where the
// machine offers a memory file system, removed when the process ends.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

inline const std::filesystem::path& FuzzFolder(const char* kind) {
    static std::filesystem::path folder;
    if (folder.empty()) {
        const std::filesystem::path base = std::filesystem::is_directory("/dev/shm")
                                               ? std::filesystem::path("/dev/shm")
                                               : std::filesystem::temp_directory_path();
        folder = base / ("verove-fuzz-" + std::string(kind) + "-" + std::to_string(getpid()));
        std::filesystem::create_directories(folder);
        std::atexit([] {
            std::error_code ignored;
            std::filesystem::remove_all(folder, ignored);
        });
    }
    return folder;
}

// Writes the input into a file of that name in the folder; its path.
inline std::filesystem::path WriteFuzzFile(const char* kind, const std::string& name,
                                           const std::uint8_t* data, std::size_t size) {
    const std::filesystem::path path = FuzzFolder(kind) / name;
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    return path;
}
