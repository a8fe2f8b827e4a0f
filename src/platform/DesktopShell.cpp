#include "platform/DesktopShell.h"

namespace vantor {

std::string computerPath(const std::string& computer)
{
    return "\\\\" + computer;
}

}  // namespace vantor
