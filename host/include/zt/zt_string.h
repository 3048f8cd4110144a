// CZtStringW: the host's wide string, with Windows-style printf formatting.
#pragma once

#include <cstdarg>
#include <string>
#include <string_view>

#include "zt/zt_export.h"

// Thread-compatible: one instance must not be used from two threads at once.
//
// Format strings follow the Windows wide-printf convention: in a wide format "%s" takes a wide
// string (const wchar_t*) and "%hs" a narrow one (const char*); "%c" is a wide character and
// "%hc" a narrow one. "%ls"/"%lc" are accepted as wide too.
class ZTHOST_API CZtStringW {
public:
    CZtStringW() = default;
    CZtStringW(const wchar_t* text) : m_str(text ? text : L"") {}
    CZtStringW(std::wstring text) : m_str(std::move(text)) {}
    CZtStringW(std::wstring_view text) : m_str(text) {}

    // Replaces the content with the formatted text; returns the new length.
    int Format(const wchar_t* format, ...);
    int FormatV(const wchar_t* format, va_list args);
    // Appends formatted text.
    int AppendFormat(const wchar_t* format, ...);

    const wchar_t* GetString() const { return m_str.c_str(); }
    operator const wchar_t*() const { return m_str.c_str(); }
    int GetLength() const { return static_cast<int>(m_str.size()); }
    bool IsEmpty() const { return m_str.empty(); }
    void Empty() { m_str.clear(); }
    const std::wstring& Str() const { return m_str; }
    std::wstring& Str() { return m_str; }

    // Narrow (UTF-8) copy, for logging into narrow sinks and file names.
    std::string ToUtf8() const;
    static CZtStringW FromUtf8(std::string_view text);

    CZtStringW& operator+=(const wchar_t* text) {
        m_str += text ? text : L"";
        return *this;
    }
    CZtStringW& operator+=(const CZtStringW& text) {
        m_str += text.m_str;
        return *this;
    }
    friend bool operator==(const CZtStringW& a, const CZtStringW& b) { return a.m_str == b.m_str; }
    friend bool operator==(const CZtStringW& a, const wchar_t* b) {
        return a.m_str == (b ? b : L"");
    }
    friend bool operator<(const CZtStringW& a, const CZtStringW& b) { return a.m_str < b.m_str; }

private:
    std::wstring m_str;
};

// Formats like CZtStringW::Format and returns the text.
ZTHOST_API std::wstring ZT_FormatW(const wchar_t* format, ...);
ZTHOST_API std::wstring ZT_FormatWV(const wchar_t* format, va_list args);
