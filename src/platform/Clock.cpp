#include "platform/Clock.h"

#include <chrono>

namespace vantor {

int64_t SystemClock::now() const
{
    using namespace std::chrono;
    return duration_cast<seconds>(system_clock::now().time_since_epoch()).count();
}

const SystemClock& SystemClock::instance()
{
    static const SystemClock clock;
    return clock;
}

}  // namespace vantor
