#pragma once
// "explore" through the Windows shell: ShellExecuteA with the path as both file and directory, no
// parameters, shown normally.

#include "platform/DesktopShell.h"

#include <windows.h>
#include <shellapi.h>

namespace vantor::windows {

class ShellExplorer final : public DesktopShell {
public:
    // Tests record the call instead of opening a window.
    using ShellExecuteFn = decltype(&::ShellExecuteA);
    explicit ShellExplorer(ShellExecuteFn execute = &::ShellExecuteA)
        : m_execute(execute)
    {
    }

    bool exploreFolder(const std::string& folder, void* owner) override;
    bool exploreComputer(const std::string& computer, void* owner) override;

private:
    bool explore(const std::string& path, void* owner);
    ShellExecuteFn m_execute;
};

}  // namespace vantor::windows
