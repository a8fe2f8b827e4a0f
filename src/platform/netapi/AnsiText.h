#pragma once
// Texts inside the program are single-byte strings in the system's ANSI code page; NetApi32, the
// registry's W functions and the shell speak UTF-16. These convert at that boundary.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace vantor::windows {

// CP_ACP: the system's ANSI code page. Tests pass explicit code pages.
inline constexpr unsigned ansiCodePage = 0;

// UTF-16 to the code page, cut to at most `maxBytes` bytes without splitting a double-byte or
// UTF-8 character. Characters the code page lacks become the code page's default character.
std::string wideToAnsi(std::wstring_view text, std::size_t maxBytes = 255,
                       unsigned codePage = ansiCodePage);

// A null pointer (NetApi32 leaves names out that way) is an empty text.
std::string wideToAnsi(const wchar_t* text, std::size_t maxBytes = 255,
                       unsigned codePage = ansiCodePage);

// The code page's text in UTF-16; nullopt when it is not valid text of that code page.
std::optional<std::wstring> ansiToWide(std::string_view text, unsigned codePage = ansiCodePage);

// Cuts text of the code page to at most `maxBytes` bytes, never inside a character.
std::string cutAnsi(std::string text, std::size_t maxBytes, unsigned codePage = ansiCodePage);

}  // namespace vantor::windows
