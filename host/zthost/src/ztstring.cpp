// CZtStringW formatting and UTF-8 conversion: the Windows wide-printf convention on any C library.
#include "zt/zt_string.h"

#include <QString>
#include <cerrno>
#include <cwchar>
#include <cwctype>
#include <vector>

#if !defined(_WIN32)
#include <locale.h>
#include <clocale>
#endif

namespace {

// The C library's wide printf reads "%s" as narrow and "%ls" as wide; the host's format strings
// are written for the Windows reading, where "%s" is wide in a wide format. Rewrites one into the
// other so the arguments are read with the types the caller passed.
std::wstring TranslateFormat(const wchar_t* format) {
#if defined(_WIN32)
    return format;
#else
    std::wstring out;
    out.reserve(wcslen(format) + 8);
    for (const wchar_t* p = format; *p;) {
        if (*p != L'%') {
            out += *p++;
            continue;
        }
        out += *p++;
        if (*p == L'%') {
            out += *p++;
            continue;
        }
        while (*p && wcschr(L"-+ #0'", *p)) {
            out += *p++;
        }
        while (*p && (iswdigit(*p) || *p == L'*' || *p == L'.')) {
            out += *p++;
        }
        // Length modifier, with the Microsoft spellings I64, I32, I and w.
        std::wstring length;
        for (;;) {
            if (*p == L'h' || *p == L'l' || *p == L'L' || *p == L'z' || *p == L'j' || *p == L't' ||
                *p == L'q') {
                length += *p++;
            } else if (*p == L'w') {
                length += L'l';
                ++p;
            } else if (p[0] == L'I' && p[1] == L'6' && p[2] == L'4') {
                length += L"ll";
                p += 3;
            } else if (p[0] == L'I' && p[1] == L'3' && p[2] == L'2') {
                p += 3;
            } else if (*p == L'I') {
                length += L'z';
                ++p;
            } else {
                break;
            }
        }
        const wchar_t conversion = *p;
        if (!conversion) {
            out += length;
            break;
        }
        ++p;
        switch (conversion) {
            case L's':
            case L'c':
                // Windows: no modifier, l or w = wide; h = narrow.
                out += (length == L"h" || length == L"hh") ? L"" : L"l";
                out += conversion;
                break;
            case L'S':
            case L'C':
                // Windows: the capital forms take the other width, narrow in a wide format.
                out += (length == L"l") ? L"l" : L"";
                out += static_cast<wchar_t>(towlower(conversion));
                break;
            default:
                out += length;
                out += conversion;
        }
    }
    return out;
#endif
}

#if !defined(_WIN32)
// Narrow arguments are UTF-8 whatever the process locale says.
locale_t Utf8Locale() {
    static const locale_t locale = [] {
        locale_t l = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
        return l ? l : newlocale(LC_CTYPE_MASK, "C", static_cast<locale_t>(nullptr));
    }();
    return locale;
}
#endif

}  // namespace

std::wstring ZT_FormatWV(const wchar_t* format, va_list args) {
    if (!format) {
        return {};
    }
    const std::wstring translated = TranslateFormat(format);
#if !defined(_WIN32)
    const locale_t previous = uselocale(Utf8Locale());
#endif
    // vswprintf reports a full buffer and an encoding error alike with -1: grow on the first,
    // give up on the second.
    constexpr size_t kMaxChars = size_t{1} << 26;
    std::vector<wchar_t> buffer(256);
    std::wstring result;
    for (;;) {
        va_list copy;
        va_copy(copy, args);
        errno = 0;
        const int n = vswprintf(buffer.data(), buffer.size(), translated.c_str(), copy);
        va_end(copy);
        if (n >= 0) {
            result.assign(buffer.data(), static_cast<size_t>(n));
            break;
        }
        if (errno == EILSEQ || buffer.size() >= kMaxChars) {
            result = L"<format error: " + std::wstring(format) + L">";
            break;
        }
        buffer.resize(buffer.size() * 4);
    }
#if !defined(_WIN32)
    uselocale(previous);
#endif
    return result;
}

std::wstring ZT_FormatW(const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    std::wstring text = ZT_FormatWV(format, args);
    va_end(args);
    return text;
}

int CZtStringW::Format(const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    const int length = FormatV(format, args);
    va_end(args);
    return length;
}

int CZtStringW::FormatV(const wchar_t* format, va_list args) {
    m_str = ZT_FormatWV(format, args);
    return GetLength();
}

int CZtStringW::AppendFormat(const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    m_str += ZT_FormatWV(format, args);
    va_end(args);
    return GetLength();
}

std::string CZtStringW::ToUtf8() const {
    return QString::fromStdWString(m_str).toStdString();
}

CZtStringW CZtStringW::FromUtf8(std::string_view text) {
    return CZtStringW(QString::fromUtf8(text.data(), static_cast<int>(text.size())).toStdWString());
}
