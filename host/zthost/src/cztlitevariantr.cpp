// CZtLiteVariantR: reading a copy of a settings tree level by level.
#include "litevariantnode.h"
#include "zt/zt_settings.h"

namespace {

// A missing value, or one of another type, arrives here as null.
std::int32_t IntOf(const SZtLiteVariantNode* value, std::int32_t defaultValue) {
    return value ? static_cast<std::int32_t>(value->integer) : defaultValue;
}

std::uint32_t UIntOf(const SZtLiteVariantNode* value, std::uint32_t defaultValue) {
    return value ? static_cast<std::uint32_t>(value->integer) : defaultValue;
}

double DoubleOf(const SZtLiteVariantNode* value, double defaultValue) {
    return value ? value->real : defaultValue;
}

bool BoolOf(const SZtLiteVariantNode* value, bool defaultValue) {
    return value ? value->integer != 0 : defaultValue;
}

CZtStringW StringOf(const SZtLiteVariantNode* value, const wchar_t* defaultValue) {
    return value ? CZtStringW(value->text) : CZtStringW(defaultValue);
}

}  // namespace

CZtLiteVariantR::CZtLiteVariantR() : m_root(std::make_shared<SZtLiteVariantNode>()) {
    m_frames.push_back({m_root.get(), -1});
}

CZtLiteVariantR::CZtLiteVariantR(const CZtLiteVariantW& tree)
    : m_root(std::make_shared<SZtLiteVariantNode>(tree.Root())) {
    m_frames.push_back({m_root.get(), -1});
}

CZtLiteVariantR::~CZtLiteVariantR() = default;

// The copy shares the read-only tree and starts at its own copy of the position.
CZtLiteVariantR::CZtLiteVariantR(const CZtLiteVariantR& other) = default;
CZtLiteVariantR& CZtLiteVariantR::operator=(const CZtLiteVariantR& other) = default;

int CZtLiteVariantR::OpenLevel(const wchar_t* name) {
    const SZtLiteVariantNode* level =
        m_frames.back().level->FindChild(EZtVariantType::Level, TextOrEmpty(name));
    if (!level) {
        return -5;
    }
    m_frames.push_back({level, -1});
    return 0;
}

int CZtLiteVariantR::CloseLevel() {
    if (m_frames.size() == 1) {
        return -5;
    }
    m_frames.pop_back();
    return 0;
}

const SZtLiteVariantNode* CZtLiteVariantR::Value(const wchar_t* name, EZtVariantType type) const {
    return m_frames.back().level->FindChild(type, TextOrEmpty(name));
}

std::int32_t CZtLiteVariantR::GetInt(const wchar_t* name, std::int32_t defaultValue) const {
    return IntOf(Value(name, EZtVariantType::Int), defaultValue);
}

std::uint32_t CZtLiteVariantR::GetUInt(const wchar_t* name, std::uint32_t defaultValue) const {
    return UIntOf(Value(name, EZtVariantType::UInt), defaultValue);
}

double CZtLiteVariantR::GetDouble(const wchar_t* name, double defaultValue) const {
    return DoubleOf(Value(name, EZtVariantType::Double), defaultValue);
}

bool CZtLiteVariantR::GetBool(const wchar_t* name, bool defaultValue) const {
    return BoolOf(Value(name, EZtVariantType::Bool), defaultValue);
}

CZtStringW CZtLiteVariantR::GetString(const wchar_t* name, const wchar_t* defaultValue) const {
    return StringOf(Value(name, EZtVariantType::String), defaultValue);
}

int CZtLiteVariantR::FirstChild() {
    Frame& frame = m_frames.back();
    frame.child = frame.level->children.empty() ? -1 : 0;
    return frame.child < 0 ? -5 : 0;
}

int CZtLiteVariantR::NextChild() {
    Frame& frame = m_frames.back();
    if (frame.child < 0) {
        return -5;
    }
    ++frame.child;
    if (static_cast<std::size_t>(frame.child) >= frame.level->children.size()) {
        frame.child = -1;
        return -5;
    }
    return 0;
}

const SZtLiteVariantNode* CZtLiteVariantR::Child() const {
    const Frame& frame = m_frames.back();
    return frame.child < 0 ? nullptr : &frame.level->children[frame.child];
}

EZtVariantType CZtLiteVariantR::GetChildType() const {
    const SZtLiteVariantNode* child = Child();
    return child ? child->type : EZtVariantType::None;
}

CZtStringW CZtLiteVariantR::GetChildName() const {
    const SZtLiteVariantNode* child = Child();
    return child ? CZtStringW(child->name) : CZtStringW();
}

int CZtLiteVariantR::OpenChild() {
    const SZtLiteVariantNode* child = Child();
    if (!child || child->type != EZtVariantType::Level) {
        return -5;
    }
    m_frames.push_back({child, -1});
    return 0;
}

const SZtLiteVariantNode* CZtLiteVariantR::ChildValue(EZtVariantType type) const {
    const SZtLiteVariantNode* child = Child();
    return child && child->type == type ? child : nullptr;
}

std::int32_t CZtLiteVariantR::GetChildInt(std::int32_t defaultValue) const {
    return IntOf(ChildValue(EZtVariantType::Int), defaultValue);
}

std::uint32_t CZtLiteVariantR::GetChildUInt(std::uint32_t defaultValue) const {
    return UIntOf(ChildValue(EZtVariantType::UInt), defaultValue);
}

double CZtLiteVariantR::GetChildDouble(double defaultValue) const {
    return DoubleOf(ChildValue(EZtVariantType::Double), defaultValue);
}

bool CZtLiteVariantR::GetChildBool(bool defaultValue) const {
    return BoolOf(ChildValue(EZtVariantType::Bool), defaultValue);
}

CZtStringW CZtLiteVariantR::GetChildString(const wchar_t* defaultValue) const {
    return StringOf(ChildValue(EZtVariantType::String), defaultValue);
}
