// SettingsFileFormat: a settings tree as the bytes of a ".bin" file (CBOR) and back.
#pragma once

#include <QByteArray>
#include <QString>
#include <memory>

struct SZtLiteVariantNode;

// Reentrant. The file is one CBOR map and nothing after it: {"magic": "ZtSettingsTree",
// "version": 1, "tree": [the root level's items]}, keys in that order. An item is the array
// [type, name, value] with type 0 level (value: the array of its items), 1 int, 2 uint,
// 3 double, 4 bool, 5 string (value of the matching CBOR type), and name a text string ("" for an
// unnamed item).
class SettingsFileFormat {
public:
    static constexpr int kVersion = 1;
    // Bigger files are refused on reading and writing: settings are small, and a bound keeps a
    // damaged or foreign file from exhausting memory.
    static constexpr qint64 kMaxFileBytes = 4 * 1024 * 1024;
    // Levels nested deeper below the root are refused, so that decoding recursion stays bounded.
    static constexpr int kMaxLevelDepth = 64;

    // Empty with problem filled when the tree is too deep or too large.
    static QByteArray Encode(const SZtLiteVariantNode& root, QString* problem);
    // The root level, or null with problem filled when data is not a settings tree of this
    // format version.
    static std::unique_ptr<SZtLiteVariantNode> Decode(const QByteArray& data, QString* problem);
};
