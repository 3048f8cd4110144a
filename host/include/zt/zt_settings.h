// The host's settings tree: ordered levels and typed named values, their reader and ".bin" files.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "zt/zt_export.h"
#include "zt/zt_string.h"

// One item of a tree: a level or a typed value. Defined inside the host.
struct SZtLiteVariantNode;

enum class EZtVariantType { None, Level, Int, UInt, Double, Bool, String };

// What Merge does with a value present in both trees (same level, name, type and occurrence).
enum class EZtMerge {
    ReplaceValues,  // the source's value wins
    KeepValues,     // the destination keeps its value
};

// Thread-compatible: one instance must not be used from two threads at once.
//
// A settings tree being written, or a tree loaded from a file. Items are kept in the order they
// were added; any number of items may share a name; a null or empty name makes an unnamed item.
// Writing happens at the current level: OpenLevel appends a level and enters it, CloseLevel
// returns to its parent. Status: 0 on success, -4 for a bad argument, -5 for something missing.
class ZTHOST_API CZtLiteVariantW {
public:
    CZtLiteVariantW();
    ~CZtLiteVariantW();
    CZtLiteVariantW(const CZtLiteVariantW& other);
    CZtLiteVariantW& operator=(const CZtLiteVariantW& other);

    int OpenLevel(const wchar_t* name);
    int CloseLevel();  // -5 at the root
    int AddInt(const wchar_t* name, std::int32_t value);
    int AddUInt(const wchar_t* name, std::uint32_t value);
    int AddDouble(const wchar_t* name, double value);
    int AddBool(const wchar_t* name, bool value);
    int AddString(const wchar_t* name, const wchar_t* value);  // null is written as empty
    // Closes every level still open, so that further items go to the root.
    int Finalize();
    bool IsEmpty() const;

    // Replaces the level at path ("\\A\\B\\C": each part names a level, first match; an empty part
    // names an unnamed level) by the root items of replacement, in their order and at the level's
    // place: a tree holding one empty level "C" empties it, an empty tree removes it. -4 for a null
    // path or one without the leading backslash, -5 when a level of the path is missing.
    // Closes every open level first.
    int Replace(const wchar_t* path, const CZtLiteVariantW& replacement);

    // Merges source into this tree, level by level from the roots. A source item is matched with
    // the destination item of the same kind (level, or value of the same type), name and
    // occurrence (the k-th such item of source matches the k-th of the destination). Matched
    // levels merge recursively; matched values follow rule; unmatched items are appended, in
    // source order, to the destination level. Closes every open level first.
    int Merge(const CZtLiteVariantW& source, EZtMerge rule = EZtMerge::ReplaceValues);

    // Host side: the root level and building a tree from one.
    const SZtLiteVariantNode& Root() const;
    explicit CZtLiteVariantW(std::unique_ptr<SZtLiteVariantNode> root);

private:
    SZtLiteVariantNode& Current();
    int Add(const wchar_t* name, EZtVariantType type, std::int64_t integer, double real,
            const wchar_t* text);

    std::unique_ptr<SZtLiteVariantNode> m_root;
    // The open levels below the root as child positions, outermost first: positions stay valid
    // when the tree is copied or a level's children grow.
    std::vector<std::size_t> m_open;
};

// Thread-compatible: one instance must not be used from two threads at once.
//
// Reads a copy of a tree, taken when the reader is made. Reading happens at the current level
// (the root at first). Values are read by name and type: the first value of that name and type
// answers, anything else (missing, or of another type) gives the default. The children of the
// current level, levels and values alike, are visited in order with FirstChild/NextChild.
// Status: 0 on success, -5 for something missing.
class ZTHOST_API CZtLiteVariantR {
public:
    CZtLiteVariantR();  // an empty tree
    explicit CZtLiteVariantR(const CZtLiteVariantW& tree);
    ~CZtLiteVariantR();
    CZtLiteVariantR(const CZtLiteVariantR& other);
    CZtLiteVariantR& operator=(const CZtLiteVariantR& other);

    // Enters the first child level of that name (null or empty: the first unnamed level).
    int OpenLevel(const wchar_t* name);
    // Returns to the parent level, whose child position is kept. -5 at the root.
    int CloseLevel();

    std::int32_t GetInt(const wchar_t* name, std::int32_t defaultValue) const;
    std::uint32_t GetUInt(const wchar_t* name, std::uint32_t defaultValue) const;
    double GetDouble(const wchar_t* name, double defaultValue) const;
    bool GetBool(const wchar_t* name, bool defaultValue) const;
    CZtStringW GetString(const wchar_t* name, const wchar_t* defaultValue) const;

    // Child position: -5 when the level has no (further) child.
    int FirstChild();
    int NextChild();
    // The child at the position; None and empty without one.
    EZtVariantType GetChildType() const;
    CZtStringW GetChildName() const;
    // Enters the child at the position; -5 when there is none or it is a value.
    int OpenChild();
    // The value of the child at the position, with the same type rule as GetInt and the others.
    std::int32_t GetChildInt(std::int32_t defaultValue) const;
    std::uint32_t GetChildUInt(std::uint32_t defaultValue) const;
    double GetChildDouble(double defaultValue) const;
    bool GetChildBool(bool defaultValue) const;
    CZtStringW GetChildString(const wchar_t* defaultValue) const;

private:
    struct Frame {
        const SZtLiteVariantNode* level;
        int child;  // -1 before FirstChild
    };
    const SZtLiteVariantNode* Child() const;
    const SZtLiteVariantNode* Value(const wchar_t* name, EZtVariantType type) const;
    const SZtLiteVariantNode* ChildValue(EZtVariantType type) const;

    std::shared_ptr<const SZtLiteVariantNode> m_root;
    std::vector<Frame> m_frames;  // root first
};

// Thread-compatible: one instance must not be used from two threads at once.
//
// Loads settings files for reading.
class ZTHOST_API CZtLoadSettingsManager {
public:
    CZtLoadSettingsManager();
    ~CZtLoadSettingsManager();
    CZtLoadSettingsManager(const CZtLoadSettingsManager&) = delete;
    CZtLoadSettingsManager& operator=(const CZtLoadSettingsManager&) = delete;

    // Loads "<name>.bin" (name may also end in ".bin" already) from folder, or from the host's
    // settings location when folder is null. count is the number of trees to prepare: 1. Returns
    // 1 when the tree is ready, 0 when the file is missing or unreadable, -4 for bad arguments.
    int PrepareLoading(const wchar_t* name, int count, const wchar_t* folder);
    // The reader of a prepared tree (borrowed; valid until the next PrepareLoading), or null.
    CZtLiteVariantR* GetLiteVariant(int index);

private:
    std::unique_ptr<CZtLiteVariantR> m_reader;
};

// Settings files live in the host's settings location, one file per name: "<name>.bin" (a name
// ending in ".bin" is taken as the file name). A name holding a path separator is refused (-4).
//
// Writes tree to the file atomically: 0, -4 for a bad name, -8 when the file cannot be written
// (an existing file is then left as it was). An existing file that does not read is first kept
// aside as "<file>.corrupt-<yyyyMMdd-hhmmss>".
ZTHOST_API int ZT_SaveSettingsFile(const wchar_t* name, const CZtLiteVariantW& tree);
// Loads the file into tree: 0, -4 for a bad name or null tree, -5 when the file is missing or
// does not read (damaged, foreign or of another format version; logged). tree is left empty on
// failure.
ZTHOST_API int ZT_LoadSettingsFile(const wchar_t* name, CZtLiteVariantW* tree);
