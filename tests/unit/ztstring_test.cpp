// CZtStringW: Windows wide-printf formatting on this C library, and UTF-8 conversion.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "zt/zt_string.h"

namespace {

std::wstring Fmt(const wchar_t* format, auto... args) {
    CZtStringW text;
    const int length = text.Format(format, args...);
    EXPECT_EQ(length, text.GetLength());
    return text.Str();
}

TEST(ZtString, StringConversionsFollowTheWindowsWideConvention) {
    EXPECT_EQ(Fmt(L"%s %hs: %s", L"Verove", "CZtVeroveDriver::ExposePattern", L"Start"),
              L"Verove CZtVeroveDriver::ExposePattern: Start");
    EXPECT_EQ(Fmt(L"[%ls|%ws|%S]", L"wide", L"wide", "narrow"), L"[wide|wide|narrow]");
    EXPECT_EQ(Fmt(L"%c%hc%lc%C", L'W', 'n', L'l', 'N'), L"WnlN");
    EXPECT_EQ(Fmt(L"100%% %s", L"done"), L"100% done");
}

TEST(ZtString, NarrowArgumentsAreReadAsUtf8) {
    EXPECT_EQ(Fmt(L"%hs",
                  "Gr\xc3\xbc\xc3\x9f"
                  "e \xe2\x82\xac"),
              L"Gr\u00fc\u00dfe \u20ac");
    EXPECT_EQ(Fmt(L"%s", L"\u00b5m"), L"\u00b5m");
}

TEST(ZtString, NumbersWidthsAndPadding) {
    EXPECT_EQ(Fmt(L"%i %d %u", -7, 42, 4000000000u), L"-7 42 4000000000");
    EXPECT_EQ(Fmt(L"%5d|%-5d|%05d", 42, 42, 42), L"   42|42   |00042");
    EXPECT_EQ(Fmt(L"%f %.2f %g %g", 1.5, 3.14159, 0.0001, 1e20), L"1.500000 3.14 0.0001 1e+20");
    EXPECT_EQ(Fmt(L"%8.3f|%-8.1f|", 2.0, 2.25), L"   2.000|2.2     |");
    EXPECT_EQ(Fmt(L"%#x %X %#o", 255, 255u, 8), L"0xff FF 010");
    EXPECT_EQ(
        Fmt(L"%I64d %I64u %lld", std::int64_t{-5000000000}, std::uint64_t{1} << 40, 1LL << 33),
        L"-5000000000 1099511627776 8589934592");
    EXPECT_EQ(Fmt(L"[%10s][%-6hs][%.3s]", L"right", "left", L"truncated"),
              L"[     right][left  ][tru]");
    EXPECT_EQ(Fmt(L"%*d|%.*f", 6, 12, 1, 9.87), L"    12|9.9");
}

TEST(ZtString, LongOutputsAreNotTruncated) {
    const std::wstring longWide(5000, L'x');
    const std::string longNarrow(70000, 'y');
    const std::wstring text = Fmt(L"<%s|%hs|%d>", longWide.c_str(), longNarrow.c_str(), 7);
    ASSERT_EQ(text.size(), 5000u + 70000u + 5u);
    EXPECT_EQ(text.substr(0, 3), L"<xx");
    EXPECT_EQ(text.substr(text.size() - 5), L"yy|7>");
    EXPECT_EQ(text.find(L"x|y"), 5000u);
}

TEST(ZtString, AppendFormatAndNullFormat) {
    CZtStringW text(L"a");
    EXPECT_EQ(text.AppendFormat(L"%d%s", 1, L"b"), 3);
    EXPECT_EQ(text, L"a1b");
    EXPECT_EQ(text.Format(nullptr), 0);
    EXPECT_TRUE(text.IsEmpty());
    EXPECT_EQ(ZT_FormatW(L"%hs=%.1f", "gain", 2.5), L"gain=2.5");
}

TEST(ZtString, Utf8RoundTrip) {
    const CZtStringW text(L"Verove \u00b5m \u20ac \U0001F600");
    EXPECT_EQ(text.ToUtf8(), "Verove \xc2\xb5m \xe2\x82\xac \xf0\x9f\x98\x80");
    EXPECT_EQ(CZtStringW::FromUtf8(text.ToUtf8()), text);
    EXPECT_EQ(CZtStringW::FromUtf8(""), L"");
    CZtStringW null(static_cast<const wchar_t*>(nullptr));
    EXPECT_TRUE(null.IsEmpty());
}

}  // namespace
