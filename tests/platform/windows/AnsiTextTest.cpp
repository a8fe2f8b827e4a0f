#include "platform/netapi/AnsiText.h"

#include <gtest/gtest.h>

using namespace vantor::windows;

namespace {

constexpr unsigned westernEurope = 1252;
constexpr unsigned japanese = 932;
constexpr unsigned utf8 = 65001;

TEST(AnsiText, ConvertsToTheCodePage)
{
    EXPECT_EQ(wideToAnsi(L"caf\u00e9", 255, westernEurope), "caf\xe9");
    EXPECT_EQ(wideToAnsi(L"caf\u00e9", 255, utf8), "caf\xc3\xa9");
    EXPECT_EQ(wideToAnsi(L"\u65e5\u672c", 255, japanese), "\x93\xfa\x96\x7b");
    // A character the code page lacks becomes its default character rather than vanishing.
    EXPECT_EQ(wideToAnsi(L"a\u65e5b", 255, westernEurope), "a?b");
    EXPECT_EQ(wideToAnsi(static_cast<const wchar_t*>(nullptr)), "");
    EXPECT_EQ(wideToAnsi(std::wstring_view()), "");
}

TEST(AnsiText, CutsAt255BytesWithoutSplittingACharacter)
{
    const std::wstring latin(300, L'\u00e9');
    EXPECT_EQ(wideToAnsi(latin, 255, westernEurope), std::string(255, '\xe9'));

    // 200 two-byte characters: 127 of them fit in 255 bytes; the 128th may not be cut in half.
    const std::wstring kanji(200, L'\u65e5');
    const std::string cutKanji = wideToAnsi(kanji, 255, japanese);
    EXPECT_EQ(cutKanji.size(), 254u);
    EXPECT_EQ(cutKanji.substr(252), "\x93\xfa");
    // One single-byte character first shifts the pairs so that exactly 255 bytes fit.
    EXPECT_EQ(wideToAnsi(L"a" + kanji, 255, japanese).size(), 255u);

    const std::wstring euro(100, L'\u20ac');  // three bytes each in UTF-8
    const std::string cutEuro = wideToAnsi(euro, 255, utf8);
    EXPECT_EQ(cutEuro.size(), 255u);
    EXPECT_EQ(wideToAnsi(L"a" + euro, 255, utf8).size(), 253u);

    // A lead byte at the very end of a text (bad input) is kept as one byte, not read past.
    EXPECT_EQ(cutAnsi("ab\x93", 2, japanese), "ab");
    EXPECT_EQ(cutAnsi(std::string("a\x93\xfa"), 2, japanese), "a");
}

TEST(AnsiText, ConvertsBackAndRefusesInvalidText)
{
    EXPECT_EQ(ansiToWide("caf\xe9", westernEurope), std::wstring(L"caf\u00e9"));
    EXPECT_EQ(ansiToWide("\x93\xfa\x96\x7b", japanese), std::wstring(L"\u65e5\u672c"));
    EXPECT_EQ(ansiToWide("", westernEurope), std::wstring());
    EXPECT_EQ(ansiToWide("bad \xc3(", utf8), std::nullopt);
}

}  // namespace
