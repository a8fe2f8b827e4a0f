#include "FaultInjection.h"

namespace vantor::test {

bool faultsCanBeInjected()
{
    return false;
}

ReadFault::ReadFault(const std::filesystem::path&, std::size_t)
{
}
ReadFault::~ReadFault() = default;
DiskFull::DiskFull(const std::filesystem::path&, std::size_t)
{
}
DiskFull::~DiskFull() = default;

}  // namespace vantor::test
