#pragma once
// The service that the demo monitors: the fake service replaying the demo scenario, for machines
// where a private Samba server cannot run.

#include "monitor/FileInspector.h"
#include "demo/FakeNetManagement.h"

#include <memory>

namespace vantor {

// The scenario's paths do not exist here; a name with an extension stands for a file, so the
// demo shows file-type icons instead of a folder on every row.
class ScenarioFileInspector final : public FileInspector {
public:
    bool isDirectoryOrUnreadable(const std::string& path) const override;
};

struct FakeDemo {
    FakeNetManagement net;
    ScenarioFileInspector files;
};

// Starts the scenario now, looping for as long as the program runs.
std::unique_ptr<FakeDemo> startFakeDemo();

}  // namespace vantor
