// SZtLiteVariantNode: one item of a settings tree, a level with children or a typed value.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "zt/zt_settings.h"

// Thread-compatible. Only the fields of its type are meaningful: integer for Int, UInt and Bool,
// real for Double, text for String, children for Level.
struct SZtLiteVariantNode {
    EZtVariantType type = EZtVariantType::Level;
    std::wstring name;
    std::int64_t integer = 0;
    double real = 0.0;
    std::wstring text;
    std::vector<SZtLiteVariantNode> children;

    // The occurrence-th child (0-based) of this level with that type and name, or null.
    SZtLiteVariantNode* FindChild(EZtVariantType childType, const std::wstring& childName,
                                  int occurrence = 0);
    const SZtLiteVariantNode* FindChild(EZtVariantType childType, const std::wstring& childName,
                                        int occurrence = 0) const;
};

// Null names an unnamed item and writes an empty string.
inline std::wstring TextOrEmpty(const wchar_t* name) {
    return name ? std::wstring(name) : std::wstring();
}
