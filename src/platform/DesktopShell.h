#pragma once
// Opening a file-browser window on a folder or on a computer of the network ("explore"). On
// Windows the shell does it (ShellExecute with the verb "explore"); on Linux the window layer
// asks the desktop (a file URL, smb://computer/).

#include <memory>
#include <string>

namespace vantor {

class DesktopShell {
public:
    virtual ~DesktopShell() = default;
    // `owner` is the window layer's opaque handle of the owning window (null: none). Whether the
    // browser came up is not examined by the callers; false says it did not.
    virtual bool exploreFolder(const std::string& folder, void* owner) = 0;
    virtual bool exploreComputer(const std::string& computer, void* owner) = 0;
};

// The network path of a computer: two backslashes and its name.
std::string computerPath(const std::string& computer);

}  // namespace vantor
