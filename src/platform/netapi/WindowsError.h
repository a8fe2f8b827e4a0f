#pragma once
// The system's own text for a Windows status code: the system message table, and for the network
// management codes (NERR_*, 2100 to 2999) the table in netmsg.dll.

#include <cstdint>
#include <string>

namespace vantor::windows {

// In the ANSI code page, without the trailing line break. A code no table knows reads
// "Error <code>" so that a box never comes up empty. `networkMessages` names the module with the
// NERR texts (tests give one of their own: Wine has no netmsg.dll).
std::string windowsErrorText(uint32_t code, const std::wstring& networkMessages = L"netmsg.dll");

// True for the range of codes whose texts live in netmsg.dll.
constexpr bool isNetworkManagementCode(uint32_t code)
{
    return code >= 2100 && code <= 2999;
}

}  // namespace vantor::windows
