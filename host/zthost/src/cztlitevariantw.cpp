// CZtLiteVariantW: writing a settings tree, replacing a level at a path, merging two trees.
#include <map>
#include <utility>

#include "litevariantnode.h"
#include "zt/zt_settings.h"

namespace {

// Items of one level are told apart by kind and name; repeated ones by their occurrence.
using ItemKey = std::pair<EZtVariantType, std::wstring>;

void MergeLevel(SZtLiteVariantNode& destination, const SZtLiteVariantNode& source, EZtMerge rule) {
    // Positions rather than pointers: appending may move the destination's children.
    std::map<ItemKey, std::vector<std::size_t>> positions;
    for (std::size_t i = 0; i < destination.children.size(); ++i) {
        const SZtLiteVariantNode& child = destination.children[i];
        positions[{child.type, child.name}].push_back(i);
    }
    std::map<ItemKey, std::size_t> occurrences;
    for (const SZtLiteVariantNode& item : source.children) {
        const ItemKey key{item.type, item.name};
        const std::size_t occurrence = occurrences[key]++;
        std::vector<std::size_t>& matches = positions[key];
        if (occurrence >= matches.size()) {
            destination.children.push_back(item);
            matches.push_back(destination.children.size() - 1);
        } else if (item.type == EZtVariantType::Level) {
            MergeLevel(destination.children[matches[occurrence]], item, rule);
        } else if (rule == EZtMerge::ReplaceValues) {
            destination.children[matches[occurrence]] = item;
        }
    }
}

}  // namespace

CZtLiteVariantW::CZtLiteVariantW() : m_root(std::make_unique<SZtLiteVariantNode>()) {}

CZtLiteVariantW::CZtLiteVariantW(std::unique_ptr<SZtLiteVariantNode> root)
    : m_root(root ? std::move(root) : std::make_unique<SZtLiteVariantNode>()) {}

CZtLiteVariantW::~CZtLiteVariantW() = default;

CZtLiteVariantW::CZtLiteVariantW(const CZtLiteVariantW& other)
    : m_root(std::make_unique<SZtLiteVariantNode>(*other.m_root)), m_open(other.m_open) {}

CZtLiteVariantW& CZtLiteVariantW::operator=(const CZtLiteVariantW& other) {
    if (this != &other) {
        *m_root = *other.m_root;
        m_open = other.m_open;
    }
    return *this;
}

SZtLiteVariantNode& CZtLiteVariantW::Current() {
    SZtLiteVariantNode* level = m_root.get();
    for (const std::size_t position : m_open) {
        level = &level->children[position];
    }
    return *level;
}

int CZtLiteVariantW::OpenLevel(const wchar_t* name) {
    SZtLiteVariantNode& current = Current();
    SZtLiteVariantNode level;
    level.name = TextOrEmpty(name);
    current.children.push_back(std::move(level));
    m_open.push_back(current.children.size() - 1);
    return 0;
}

int CZtLiteVariantW::CloseLevel() {
    if (m_open.empty()) {
        return -5;
    }
    m_open.pop_back();
    return 0;
}

int CZtLiteVariantW::Add(const wchar_t* name, EZtVariantType type, std::int64_t integer,
                         double real, const wchar_t* text) {
    SZtLiteVariantNode value;
    value.type = type;
    value.name = TextOrEmpty(name);
    value.integer = integer;
    value.real = real;
    value.text = TextOrEmpty(text);
    Current().children.push_back(std::move(value));
    return 0;
}

int CZtLiteVariantW::AddInt(const wchar_t* name, std::int32_t value) {
    return Add(name, EZtVariantType::Int, value, 0.0, nullptr);
}

int CZtLiteVariantW::AddUInt(const wchar_t* name, std::uint32_t value) {
    return Add(name, EZtVariantType::UInt, value, 0.0, nullptr);
}

int CZtLiteVariantW::AddDouble(const wchar_t* name, double value) {
    return Add(name, EZtVariantType::Double, 0, value, nullptr);
}

int CZtLiteVariantW::AddBool(const wchar_t* name, bool value) {
    return Add(name, EZtVariantType::Bool, value ? 1 : 0, 0.0, nullptr);
}

int CZtLiteVariantW::AddString(const wchar_t* name, const wchar_t* value) {
    return Add(name, EZtVariantType::String, 0, 0.0, value);
}

int CZtLiteVariantW::Finalize() {
    m_open.clear();
    return 0;
}

bool CZtLiteVariantW::IsEmpty() const {
    return m_root->children.empty();
}

const SZtLiteVariantNode& CZtLiteVariantW::Root() const {
    return *m_root;
}

int CZtLiteVariantW::Replace(const wchar_t* path, const CZtLiteVariantW& replacement) {
    Finalize();
    if (!path || path[0] != L'\\') {
        return -4;
    }
    // Copied first: replacement may be this tree.
    const std::vector<SZtLiteVariantNode> items = replacement.m_root->children;

    std::vector<std::wstring> parts;
    const std::wstring text(path + 1);
    std::size_t start = 0;
    for (std::size_t end; (end = text.find(L'\\', start)) != std::wstring::npos; start = end + 1) {
        parts.push_back(text.substr(start, end - start));
    }
    parts.push_back(text.substr(start));

    SZtLiteVariantNode* parent = m_root.get();
    for (std::size_t i = 0; i + 1 < parts.size(); ++i) {
        parent = parent->FindChild(EZtVariantType::Level, parts[i]);
        if (!parent) {
            return -5;
        }
    }
    std::vector<SZtLiteVariantNode>& siblings = parent->children;
    for (auto it = siblings.begin(); it != siblings.end(); ++it) {
        if (it->type == EZtVariantType::Level && it->name == parts.back()) {
            it = siblings.erase(it);
            siblings.insert(it, items.begin(), items.end());
            return 0;
        }
    }
    return -5;
}

int CZtLiteVariantW::Merge(const CZtLiteVariantW& source, EZtMerge rule) {
    if (&source == this) {
        const CZtLiteVariantW copy(source);
        return Merge(copy, rule);
    }
    Finalize();
    MergeLevel(*m_root, *source.m_root, rule);
    return 0;
}
