#pragma once
// An autostart entry in memory, with a status to answer for the next writes.

#include "platform/Autostart.h"

#include <vector>

namespace vantor::test {

class FakeAutostart final : public Autostart {
public:
    bool isEnabled() const override { return enabled; }
    NetStatus enable(const std::string& executable) override
    {
        calls.push_back("enable " + executable);
        if (!enableStatus.ok())
            return enableStatus;
        enabled = true;
        return NetStatus::success();
    }
    NetStatus disable() override
    {
        calls.push_back("disable");
        enabled = false;
        return NetStatus::success();
    }

    bool enabled = false;
    NetStatus enableStatus;
    std::vector<std::string> calls;
};

}  // namespace vantor::test
