// The host's registry: keys of typed values, opened by path under a root, with Windows semantics.
#pragma once

#include "zt/zt_export.h"

// Roots of the key paths.
enum class EZtRegRoot { LocalMachine, CurrentUser };

// Value types, with the Windows values.
constexpr ZT_DWORD ZT_REG_NONE = 0, ZT_REG_SZ = 1, ZT_REG_BINARY = 3, ZT_REG_DWORD = 4,
                   ZT_REG_QWORD = 11;

// Results, with the Windows values.
constexpr long ZT_ERROR_SUCCESS = 0, ZT_ERROR_FILE_NOT_FOUND = 2, ZT_ERROR_INVALID_PARAMETER = 87,
               ZT_ERROR_MORE_DATA = 234, ZT_ERROR_KEY_DELETED = 1018;

// An open key; closed with ZT_RegCloseKey.
struct SZtRegKey;
using ZT_HKEY = SZtRegKey*;

// All functions are thread-safe. Paths use backslashes ("Software\\Brightwater\\Misc\\Verove").
//
// Opens an existing key and never creates one: ZT_ERROR_FILE_NOT_FOUND when it is missing.
ZTHOST_API long ZT_RegOpenKey(EZtRegRoot root, const wchar_t* path, ZT_HKEY* key);
// Opens a key, creating it and every missing key above it.
ZTHOST_API long ZT_RegCreateKey(EZtRegRoot root, const wchar_t* path, ZT_HKEY* key);
ZTHOST_API long ZT_RegCloseKey(ZT_HKEY key);
// Reads a value: its type (may be null) and its bytes. data null asks for the size only; a size
// smaller than the value's gives ZT_ERROR_MORE_DATA with *size set to the value's size.
// ZT_ERROR_FILE_NOT_FOUND when the value is missing, ZT_ERROR_KEY_DELETED when the key is gone.
ZTHOST_API long ZT_RegQueryValue(ZT_HKEY key, const wchar_t* name, ZT_DWORD* type, void* data,
                                 ZT_DWORD* size);
// Writes a value of any type and size (the bytes are kept as given). ZT_ERROR_KEY_DELETED when
// the key was removed after it was opened: a write never creates a key.
ZTHOST_API long ZT_RegSetValue(ZT_HKEY key, const wchar_t* name, ZT_DWORD type, const void* data,
                               ZT_DWORD size);
ZTHOST_API long ZT_RegDeleteValue(ZT_HKEY key, const wchar_t* name);
// Removes a key with its values and subkeys.
ZTHOST_API long ZT_RegDeleteTree(EZtRegRoot root, const wchar_t* path);
