// The version a library file carries.
#include "verove_fileversion.h"

#include <charconv>
#include <string_view>
#include <vector>

#if defined(_WIN32)
#define NOMINMAX
#include <windows.h>
#else
#include <filesystem>
#endif

#include "zt/zt_string.h"

std::optional<std::uint64_t> VeroveReadFileVersion(const wchar_t* path) {
#if defined(_WIN32)
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(path, &ignored);
    if (size == 0) {
        return std::nullopt;
    }
    std::vector<BYTE> data(size);
    VS_FIXEDFILEINFO* info = nullptr;
    UINT length = 0;
    if (!GetFileVersionInfoW(path, 0, size, data.data()) ||
        !VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&info), &length) || !info ||
        length < sizeof(VS_FIXEDFILEINFO)) {
        return std::nullopt;
    }
    return (std::uint64_t{info->dwFileVersionMS} << 32) | info->dwFileVersionLS;
#else
    // Linux libraries carry no version resource; the SDK installs each one under its full
    // version ("libatcore.so.3.15.30092.2") behind the plain name's symlink.
    std::error_code error;
    const std::filesystem::path target =
        std::filesystem::canonical(CZtStringW(path).ToUtf8(), error);
    if (error) {
        return std::nullopt;
    }
    const std::string name = target.filename().string();
    const std::size_t suffix = name.rfind(".so.");
    if (suffix == std::string::npos) {
        return std::nullopt;
    }
    std::string_view rest = std::string_view(name).substr(suffix + 4);
    std::uint64_t version = 0;
    for (int part = 0; part < 4; ++part) {
        unsigned number = 0;
        const auto [end, status] = std::from_chars(rest.data(), rest.data() + rest.size(), number);
        if (status != std::errc() || number > 0xFFFF) {
            return std::nullopt;
        }
        version = (version << 16) | number;
        rest.remove_prefix(end - rest.data());
        const bool last = part == 3;
        if (last ? !rest.empty() : (rest.empty() || rest.front() != '.')) {
            return std::nullopt;
        }
        if (!last) {
            rest.remove_prefix(1);
        }
    }
    return version;
#endif
}

std::wstring VeroveFormatVersion(std::uint64_t version) {
    return ZT_FormatW(L"%d.%d.%d.%d", static_cast<int>((version >> 48) & 0xFFFF),
                      static_cast<int>((version >> 32) & 0xFFFF),
                      static_cast<int>((version >> 16) & 0xFFFF),
                      static_cast<int>(version & 0xFFFF));
}
