// The version a library file carries, packed like a Windows fixed file version.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

// Reentrant. The file version of a library (major << 48 | minor << 32 | build << 16 | revision):
// on Windows its version resource, on Linux the four numbers after ".so." in the name the path
// resolves to. None when the file has no readable version.
std::optional<std::uint64_t> VeroveReadFileVersion(const wchar_t* path);

// "major.minor.build.revision".
std::wstring VeroveFormatVersion(std::uint64_t version);
