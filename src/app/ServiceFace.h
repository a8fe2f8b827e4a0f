#pragma once
// Whether the window is the service's face: when vantord is on the system bus, or when this user
// could not run the engine anyway (not root), in which case the face tells once how to start the
// service and comes alive when it does. Null: the engine runs in this program (no system bus, root
// without a service, Windows).

#include "engine/MonitorFace.h"

#include <memory>

namespace vantor {

std::unique_ptr<MonitorFace> serviceFace(MessageBoxes& boxes);

}  // namespace vantor
