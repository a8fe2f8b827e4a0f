#include "demo/DemoService.h"

#include "platform/Clock.h"

namespace vantor {

bool ScenarioFileInspector::isDirectoryOrUnreadable(const std::string& path) const
{
    const auto slash = path.rfind('/');
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    const auto dot = name.rfind('.');
    return dot == std::string::npos || dot == 0 || dot + 1 == name.size();
}

std::unique_ptr<FakeDemo> startFakeDemo()
{
    auto demo = std::make_unique<FakeDemo>();
    demo->net.playScenario(demoScenario(), SystemClock::instance(), true);
    return demo;
}

}  // namespace vantor
