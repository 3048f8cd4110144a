// SettingsFileFormat: CBOR encoding and strict, bounded decoding of settings trees.
#include "settingsfileformat.h"

#include <QCborArray>
#include <QCborMap>
#include <QCborStreamReader>
#include <QCborValue>
#include <limits>

#include "litevariantnode.h"

namespace {

const QString kMagic = QStringLiteral("ZtSettingsTree");

// Type numbers in the file; they never change within a format version.
enum FileType : int { kLevel = 0, kInt, kUInt, kDouble, kBool, kString };

QString TooLarge(qint64 size) {
    return QStringLiteral("%1 bytes, more than %2")
        .arg(size)
        .arg(SettingsFileFormat::kMaxFileBytes);
}

int FileTypeOf(EZtVariantType type) {
    switch (type) {
        case EZtVariantType::Int:
            return kInt;
        case EZtVariantType::UInt:
            return kUInt;
        case EZtVariantType::Double:
            return kDouble;
        case EZtVariantType::Bool:
            return kBool;
        case EZtVariantType::String:
            return kString;
        default:
            return kLevel;
    }
}

bool EncodeLevel(const SZtLiteVariantNode& level, int depth, QCborArray* items) {
    if (depth > SettingsFileFormat::kMaxLevelDepth) {
        return false;
    }
    for (const SZtLiteVariantNode& child : level.children) {
        QCborValue value;
        switch (child.type) {
            case EZtVariantType::Level: {
                QCborArray grandChildren;
                if (!EncodeLevel(child, depth + 1, &grandChildren)) {
                    return false;
                }
                value = grandChildren;
                break;
            }
            case EZtVariantType::Double:
                value = child.real;
                break;
            case EZtVariantType::Bool:
                value = child.integer != 0;
                break;
            case EZtVariantType::String:
                value = QString::fromStdWString(child.text);
                break;
            default:
                value = static_cast<qint64>(child.integer);
                break;
        }
        items->append(
            QCborArray{FileTypeOf(child.type), QString::fromStdWString(child.name), value});
    }
    return true;
}

// What the writer never produces: 16- and 32-bit floats (doubles are written as 64-bit floats),
// tags, byte strings, simple values other than true and false, integers beyond 64 bits signed,
// and containers or strings of indefinite length. Empty when the item is of a kind in use.
QString UnusedKind(const QCborStreamReader& reader) {
    if (reader.isFloat16() || reader.isFloat()) {
        return QStringLiteral("a 16- or 32-bit float");
    }
    if (reader.isTag()) {
        return QStringLiteral("a tag");
    }
    if (reader.isByteArray()) {
        return QStringLiteral("a byte string");
    }
    if (reader.isSimpleType() && !reader.isBool()) {
        return QStringLiteral("a simple value other than true or false");
    }
    constexpr quint64 kLargest = static_cast<quint64>(std::numeric_limits<qint64>::max());
    if ((reader.isUnsignedInteger() && reader.toUnsignedInteger() > kLargest) ||
        (reader.isNegativeInteger() &&
         static_cast<quint64>(reader.toNegativeInteger()) > kLargest + 1)) {
        return QStringLiteral("an integer beyond 64 bits signed");
    }
    if ((reader.isContainer() || reader.isString()) && !reader.isLengthKnown()) {
        return QStringLiteral("an item of indefinite length");
    }
    return {};
}

// Walks the CBOR structure without recursion, so that a hostile nesting depth is refused before
// anything decodes it recursively, refuses every kind of item the format does not use, and checks
// that nothing follows the one top-level item.
bool CheckStructure(const QByteArray& data, QString* problem) {
    const int maxDepth = 2 * SettingsFileFormat::kMaxLevelDepth + 4;
    QCborStreamReader reader(data);
    int depth = 0;
    do {
        if (reader.lastError() != QCborError::NoError) {
            *problem = reader.lastError().toString();
            return false;
        }
        if (depth == 0 || reader.hasNext()) {
            const QString unused = UnusedKind(reader);
            if (!unused.isEmpty()) {
                *problem = unused + QStringLiteral(", which the format does not use");
                return false;
            }
        }
        bool advanced;
        if (depth > 0 && !reader.hasNext()) {
            --depth;
            advanced = reader.leaveContainer();
        } else if (reader.isArray() || reader.isMap()) {
            if (++depth > maxDepth) {
                *problem = QStringLiteral("nested too deeply");
                return false;
            }
            advanced = reader.enterContainer();
        } else {
            advanced = reader.next();
        }
        if (!advanced) {
            *problem = reader.lastError().toString();
            return false;
        }
    } while (depth > 0);
    if (reader.currentOffset() != data.size()) {
        *problem =
            QStringLiteral("%1 bytes after the tree").arg(data.size() - reader.currentOffset());
        return false;
    }
    return true;
}

bool DecodeLevel(const QCborArray& items, int depth, SZtLiteVariantNode* level) {
    if (depth > SettingsFileFormat::kMaxLevelDepth) {
        return false;
    }
    level->children.reserve(items.size());
    for (const QCborValue& entry : items) {
        const QCborArray item = entry.toArray();
        if (!entry.isArray() || item.size() != 3 || !item[0].isInteger() || !item[1].isString()) {
            return false;
        }
        const QCborValue value = item[2];
        SZtLiteVariantNode child;
        child.name = item[1].toString().toStdWString();
        const qint64 integer = value.toInteger();
        switch (item[0].toInteger()) {
            case kLevel:
                if (!value.isArray() || !DecodeLevel(value.toArray(), depth + 1, &child)) {
                    return false;
                }
                break;
            case kInt:
                if (!value.isInteger() || integer < std::numeric_limits<std::int32_t>::min() ||
                    integer > std::numeric_limits<std::int32_t>::max()) {
                    return false;
                }
                child.type = EZtVariantType::Int;
                child.integer = integer;
                break;
            case kUInt:
                if (!value.isInteger() || integer < 0 ||
                    integer > std::numeric_limits<std::uint32_t>::max()) {
                    return false;
                }
                child.type = EZtVariantType::UInt;
                child.integer = integer;
                break;
            case kDouble:
                if (!value.isDouble()) {
                    return false;
                }
                child.type = EZtVariantType::Double;
                child.real = value.toDouble();
                break;
            case kBool:
                if (!value.isBool()) {
                    return false;
                }
                child.type = EZtVariantType::Bool;
                child.integer = value.toBool() ? 1 : 0;
                break;
            case kString:
                if (!value.isString()) {
                    return false;
                }
                child.type = EZtVariantType::String;
                child.text = value.toString().toStdWString();
                break;
            default:
                return false;
        }
        level->children.push_back(std::move(child));
    }
    return true;
}

}  // namespace

QByteArray SettingsFileFormat::Encode(const SZtLiteVariantNode& root, QString* problem) {
    QCborArray items;
    if (!EncodeLevel(root, 0, &items)) {
        *problem = QStringLiteral("levels nested deeper than %1").arg(kMaxLevelDepth);
        return {};
    }
    // Keys in this order: a file starts with its magic and version.
    const QCborMap file{{QStringLiteral("magic"), kMagic},
                        {QStringLiteral("version"), kVersion},
                        {QStringLiteral("tree"), items}};
    const QByteArray data = QCborValue(file).toCbor();
    if (data.size() > kMaxFileBytes) {
        *problem = TooLarge(data.size());
        return {};
    }
    return data;
}

std::unique_ptr<SZtLiteVariantNode> SettingsFileFormat::Decode(const QByteArray& data,
                                                               QString* problem) {
    if (data.isEmpty()) {
        *problem = QStringLiteral("empty");
        return nullptr;
    }
    if (data.size() > kMaxFileBytes) {
        *problem = TooLarge(data.size());
        return nullptr;
    }
    if (!CheckStructure(data, problem)) {
        return nullptr;
    }
    QCborParserError error;
    const QCborValue file = QCborValue::fromCbor(data, &error);
    if (error.error != QCborError::NoError) {
        *problem = error.errorString();
        return nullptr;
    }
    if (!file.isMap() || file[QStringLiteral("magic")].toString() != kMagic) {
        *problem = QStringLiteral("not a settings tree");
        return nullptr;
    }
    // A key given twice would leave it open which of its values counts.
    const QVector<QCborValue> keys = file.toMap().keys();
    const QVector<QCborValue> expected = {QStringLiteral("magic"), QStringLiteral("version"),
                                          QStringLiteral("tree")};
    if (keys != expected) {
        *problem = QStringLiteral("keys other than \"magic\", \"version\", \"tree\" once each");
        return nullptr;
    }
    const QCborValue version = file[QStringLiteral("version")];
    if (!version.isInteger() || version.toInteger() != kVersion) {
        *problem = QStringLiteral("format version %1, this host reads %2")
                       .arg(version.toVariant().toString())
                       .arg(kVersion);
        return nullptr;
    }
    const QCborValue tree = file[QStringLiteral("tree")];
    auto root = std::make_unique<SZtLiteVariantNode>();
    if (!tree.isArray() || !DecodeLevel(tree.toArray(), 0, root.get())) {
        *problem = QStringLiteral("malformed tree");
        return nullptr;
    }
    return root;
}
