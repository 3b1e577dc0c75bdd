#include "platform/base/strings.h"

#include <gtest/gtest.h>

namespace {

TEST(Strings, FormatterNeverOverrunsItsBuffer) {
    WCHAR buf[8];
    for (auto& c : buf) c = u'#';
    WCHAR guard[4] = {u'G', u'G', u'G', u'G'};
    // Only 5 of the 8 characters are offered: the result is cut and terminated inside them.
    EXPECT_EQ(StringCchPrintfW(buf, 5, TEXT("com%d:%s"), 12345, TEXT("tail")),
              STRSAFE_E_INSUFFICIENT_BUFFER);
    EXPECT_EQ(std::u16string(buf), u"com1");
    EXPECT_EQ(buf[5], u'#');
    EXPECT_EQ(guard[0], u'G');
    EXPECT_EQ(StringCchPrintfW(buf, 8, TEXT("com%d:"), 7), S_OK);
    EXPECT_EQ(std::u16string(buf), u"com7:");
    EXPECT_EQ(StringCchPrintfW(buf, 0, TEXT("x")), STRSAFE_E_INVALID_PARAMETER);
}

TEST(Strings, FormatterConversions) {
    EXPECT_EQ(
        platform::Format(TEXT("%d|%u|%x|%X|%s|%c|%%"), -42, 42u, 255u, 255u, TEXT("ab"), u'Z'),
        u"-42|42|ff|FF|ab|Z|%");
    EXPECT_EQ(platform::Format(TEXT("[%5d][%-4s][%05d][%.2s]"), 42, TEXT("a"), -7, TEXT("xyz")),
              u"[   42][a   ][-0007][xy]");
    EXPECT_EQ(platform::Format(TEXT("%d"), INT32_MIN), u"-2147483648");
    EXPECT_EQ(platform::Format(TEXT("%ld %zu"), 5L, static_cast<size_t>(6)), u"5 6");
    EXPECT_EQ(platform::Format(TEXT("%s"), static_cast<const WCHAR*>(nullptr)), u"(null)");
    // Huge widths neither overflow nor ask for gigabytes.
    EXPECT_EQ(platform::Format(TEXT("%4294967297d"), 1).size(), 4096u);
    EXPECT_EQ(platform::Format(TEXT("%.99999999999s"), TEXT("ab")), u"ab");
}

TEST(Strings, CopyAndCatAreBounded) {
    WCHAR buf[6] = {};
    EXPECT_EQ(StringCchCopyW(buf, 6, TEXT("COM1")), S_OK);
    EXPECT_EQ(StringCchCatW(buf, 6, TEXT(":")), S_OK);
    EXPECT_EQ(std::u16string(buf), u"COM1:");
    EXPECT_EQ(StringCchCatW(buf, 6, TEXT("x")), STRSAFE_E_INSUFFICIENT_BUFFER);
    EXPECT_EQ(std::u16string(buf), u"COM1:");
    size_t n = 99;
    EXPECT_EQ(StringCchLengthW(buf, 6, &n), S_OK);
    EXPECT_EQ(n, 5u);
}

TEST(Strings, CRuntimeFunctions) {
    WCHAR path[32];
    wcscpy(path, TEXT("\\Storage Card\\Nav\\X.exe"));
    WCHAR* last = wcsrchr(path, u'\\');
    ASSERT_NE(last, nullptr);
    EXPECT_EQ(std::u16string(last), u"\\X.exe");
    EXPECT_EQ(wcsrchr(path, u'/'), nullptr);
    EXPECT_EQ(wcsncmp(TEXT("COM3:"), TEXT("COMX"), 3), 0);
    EXPECT_NE(wcsncmp(TEXT("com"), TEXT("COM"), 3), 0);
    EXPECT_EQ(_wcsicmp(TEXT("Drivers\\BuiltIn"), TEXT("DRIVERS\\builtin")), 0);
    EXPECT_EQ(wcslen(TEXT("")), 0u);
}

TEST(Strings, NumberParsing) {
    EXPECT_EQ(_wtol(TEXT("  -123abc")), -123);
    EXPECT_EQ(_wtol(TEXT("+9600\n")), 9600);
    EXPECT_EQ(_wtol(TEXT("\n")), 0);
    EXPECT_EQ(_wtol(TEXT("99999999999")), INT32_MAX);
    EXPECT_EQ(_wtol(TEXT("-99999999999")), INT32_MIN);
    WCHAR* end = nullptr;
    const WCHAR* text = TEXT(" 0.1x");
    EXPECT_DOUBLE_EQ(wcstod(text, &end), 0.1);
    EXPECT_EQ(*end, u'x');
    EXPECT_DOUBLE_EQ(wcstod(TEXT("1e300"), nullptr), 1e300);
    const WCHAR* bad = TEXT("abc");
    wcstod(bad, &end);
    EXPECT_EQ(end, bad);
}

TEST(Strings, Utf8RoundTripKeepsAnyBytes) {
    // GBK, Latin-1, a truncated sequence, an overlong form and an encoded surrogate.
    const std::string bytes =
        "; \xC9\xE8\xD6\xC3 caf\xE9 \xE2\x82 \xC0\xAF \xED\xA0\x80 ok \xE2\x82\xAC "
        "\xF0\x9F\x98\x80\r\n";
    std::u16string text = platform::FromUtf8(bytes);
    EXPECT_EQ(platform::ToUtf8(text), bytes);
    EXPECT_EQ(platform::FromUtf8("\xE2\x82\xAC"), u"\u20AC");
    EXPECT_EQ(platform::FromUtf8("\xF0\x9F\x98\x80"), u"\U0001F600");
    // A lone surrogate that is not an escaped byte cannot be encoded: it becomes U+FFFD.
    EXPECT_EQ(platform::ToUtf8(u"\xD800"), "\xEF\xBF\xBD");
}

}  // namespace
