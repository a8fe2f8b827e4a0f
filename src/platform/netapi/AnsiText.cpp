#include "platform/netapi/AnsiText.h"

#include "platform/NetManagement.h"
#include "platform/SystemText.h"

#include <windows.h>

#include <climits>

namespace vantor::windows {

namespace {

unsigned resolvedCodePage(unsigned codePage)
{
    // CP_ACP can itself be UTF-8 (the "Beta: Use Unicode UTF-8" setting, or a manifest asking for
    // it); the cut must then follow UTF-8's rules, not the DBCS lead-byte table.
    return codePage == CP_ACP ? GetACP() : codePage;
}

}  // namespace

std::string cutAnsi(std::string text, std::size_t maxBytes, unsigned codePage)
{
    if (text.size() <= maxBytes)
        return text;
    const unsigned cp = resolvedCodePage(codePage);
    if (cp == CP_UTF8)
        return cutUtf8(std::move(text), maxBytes);
    std::size_t end = 0;
    while (end < text.size()) {
        const auto lead = static_cast<BYTE>(text[end]);
        const std::size_t width = IsDBCSLeadByteEx(cp, lead) && end + 1 < text.size() ? 2 : 1;
        if (end + width > maxBytes)
            break;
        end += width;
    }
    text.resize(end);
    return text;
}

std::string wideToAnsi(std::wstring_view text, std::size_t maxBytes, unsigned codePage)
{
    if (text.empty() || text.size() > INT_MAX)
        return {};
    const int length = static_cast<int>(text.size());
    const int needed = WideCharToMultiByte(codePage, 0, text.data(), length, nullptr, 0, nullptr, nullptr);
    if (needed <= 0)
        return {};
    std::string out(static_cast<std::size_t>(needed), '\0');
    const int written = WideCharToMultiByte(codePage, 0, text.data(), length, out.data(), needed, nullptr, nullptr);
    if (written <= 0)
        return {};
    out.resize(static_cast<std::size_t>(written));
    return cutAnsi(std::move(out), maxBytes, codePage);
}

std::string wideToAnsi(const wchar_t* text, std::size_t maxBytes, unsigned codePage)
{
    return text ? wideToAnsi(std::wstring_view(text), maxBytes, codePage) : std::string();
}

std::optional<std::wstring> ansiToWide(std::string_view text, unsigned codePage)
{
    if (text.empty())
        return std::wstring();
    if (text.size() > INT_MAX)
        return std::nullopt;
    const int length = static_cast<int>(text.size());
    const int needed = MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, text.data(), length, nullptr, 0);
    if (needed <= 0)
        return std::nullopt;
    std::wstring out(static_cast<std::size_t>(needed), L'\0');
    if (MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, text.data(), length, out.data(), needed) != needed)
        return std::nullopt;
    return out;
}

std::string recode(std::string_view text, unsigned fromCodePage, unsigned toCodePage)
{
    if (text.empty() || text.size() > INT_MAX)
        return {};
    const int length = static_cast<int>(text.size());
    const int needed = MultiByteToWideChar(fromCodePage, 0, text.data(), length, nullptr, 0);
    if (needed <= 0)
        return {};
    std::wstring wide(static_cast<std::size_t>(needed), L'\0');
    if (MultiByteToWideChar(fromCodePage, 0, text.data(), length, wide.data(), needed) != needed)
        return {};
    return wideToAnsi(wide, std::string::npos, toCodePage);
}

}  // namespace vantor::windows

namespace vantor {

std::string toSystemText(std::string text)
{
    return windows::recode(text, windows::utf8CodePage, windows::ansiCodePage);
}

std::string fromSystemText(std::string text)
{
    return windows::recode(text, windows::ansiCodePage, windows::utf8CodePage);
}

}  // namespace vantor
