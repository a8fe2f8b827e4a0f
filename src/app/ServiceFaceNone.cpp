#include "app/ServiceFace.h"

namespace vantor {

// No system bus here: the engine always runs in the program.
std::unique_ptr<MonitorFace> serviceFace(MessageBoxes&)
{
    return nullptr;
}

}  // namespace vantor
