#include "WineDetect.h"

#include <windows.h>

namespace vantor::test {

bool runningUnderWine()
{
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

}  // namespace vantor::test
