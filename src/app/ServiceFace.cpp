#include "app/ServiceFace.h"

#include "app/BusMonitorFace.h"

#include <unistd.h>

namespace vantor {

std::unique_ptr<MonitorFace> serviceFace(MessageBoxes& boxes)
{
    std::string error;
    auto face = BusMonitorFace::connect({}, boxes, error);
    if (!face)
        return nullptr;
    if (face->serviceRunning() || ::geteuid() != 0)
        return face;
    return nullptr;
}

}  // namespace vantor
