#include "demo/SambaDemo.h"

namespace vantor {

std::unique_ptr<SambaDemo> startSambaDemo(std::string& error)
{
    error = "the demo's private Samba server runs on Linux only";
    return nullptr;
}

}  // namespace vantor
