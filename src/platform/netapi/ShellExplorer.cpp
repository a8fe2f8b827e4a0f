#include "platform/netapi/ShellExplorer.h"

namespace vantor::windows {

bool ShellExplorer::explore(const std::string& path, void* owner)
{
    HINSTANCE result = m_execute(static_cast<HWND>(owner), "explore", path.c_str(), nullptr, path.c_str(), SW_SHOW);
    // ShellExecute's documented success test: a value greater than 32.
    return reinterpret_cast<INT_PTR>(result) > 32;
}

bool ShellExplorer::exploreFolder(const std::string& folder, void* owner)
{
    return explore(folder, owner);
}

bool ShellExplorer::exploreComputer(const std::string& computer, void* owner)
{
    return explore(computerPath(computer), owner);
}

}  // namespace vantor::windows
