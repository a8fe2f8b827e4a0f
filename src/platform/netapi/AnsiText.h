#pragma once
// Texts inside the program are UTF-8. NetApi32 and the other wide Windows calls speak UTF-16, and
// the files and peers that have always had the system's ANSI code page keep it; these convert at
// those edges.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace vantor::windows {

// CP_ACP: the system's ANSI code page. Tests pass explicit code pages.
inline constexpr unsigned ansiCodePage = 0;
inline constexpr unsigned utf8CodePage = 65001;

// UTF-16 to the code page, cut to at most `maxBytes` bytes without splitting a double-byte or
// UTF-8 character. Characters the code page lacks become the code page's default character.
std::string wideToAnsi(std::wstring_view text, std::size_t maxBytes = 255, unsigned codePage = ansiCodePage);

// A null pointer (NetApi32 leaves names out that way) is an empty text.
std::string wideToAnsi(const wchar_t* text, std::size_t maxBytes = 255, unsigned codePage = ansiCodePage);

// The code page's text in UTF-16; nullopt when it is not valid text of that code page.
std::optional<std::wstring> ansiToWide(std::string_view text, unsigned codePage = ansiCodePage);

// UTF-16 to the program's UTF-8, cut to at most `maxBytes` bytes without splitting a character.
inline std::string wideToUtf8(std::wstring_view text, std::size_t maxBytes = 255)
{
    return wideToAnsi(text, maxBytes, utf8CodePage);
}
inline std::string wideToUtf8(const wchar_t* text, std::size_t maxBytes = 255)
{
    return wideToAnsi(text, maxBytes, utf8CodePage);
}

// The program's UTF-8 in UTF-16; nullopt when it is not valid UTF-8.
inline std::optional<std::wstring> utf8ToWide(std::string_view text)
{
    return ansiToWide(text, utf8CodePage);
}

// Text from one code page in another, never failing: what the target lacks becomes its default
// character and bytes that are not text of the source become U+FFFD first.
std::string recode(std::string_view text, unsigned fromCodePage, unsigned toCodePage);

// Cuts text of the code page to at most `maxBytes` bytes, never inside a character.
std::string cutAnsi(std::string text, std::size_t maxBytes, unsigned codePage = ansiCodePage);

}  // namespace vantor::windows
