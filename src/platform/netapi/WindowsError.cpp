#include "platform/netapi/WindowsError.h"

#include "platform/SystemError.h"
#include "platform/netapi/AnsiText.h"

#include <windows.h>

namespace vantor::windows {

namespace {

std::string formatFrom(DWORD source, HMODULE module, uint32_t code)
{
    wchar_t* buffer = nullptr;
    const DWORD flags = FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS | source;
    // FORMAT_MESSAGE_ALLOCATE_BUFFER makes the buffer argument a pointer to the pointer.
    const DWORD length = FormatMessageW(flags, module, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
                                        reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    std::string text;
    if (length > 0 && buffer)
        text = wideToUtf8(std::wstring_view(buffer, length), std::string::npos);
    if (buffer)
        LocalFree(buffer);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' '))
        text.pop_back();
    return text;
}

}  // namespace

std::string windowsErrorText(uint32_t code, const std::wstring& networkMessages)
{
    std::string text;
    if (isNetworkManagementCode(code)) {
        // A resource-only load: the module holds messages, no code to run.
        if (HMODULE netmsg = LoadLibraryExW(networkMessages.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE)) {
            text = formatFrom(FORMAT_MESSAGE_FROM_HMODULE, netmsg, code);
            FreeLibrary(netmsg);
        }
    }
    if (text.empty())
        text = formatFrom(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, code);
    if (text.empty())
        text = "Error " + std::to_string(code);
    return text;
}

}  // namespace vantor::windows

namespace vantor {

std::string systemErrorText(int code)
{
    return windows::windowsErrorText(static_cast<uint32_t>(code));
}

}  // namespace vantor
