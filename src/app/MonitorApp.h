#pragma once
// The program: reads the command line, chooses the service to monitor (this computer's Samba, or
// the demo), and runs the main window until "Exit".

#include "app/CommandLine.h"

#include <memory>
#include <string>
#include <vector>

namespace vantor {

class MonitorApp {
public:
    MonitorApp(int& argc, char** argv);
    ~MonitorApp();

    // Runs the program; returns its exit code.
    int run();

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

}  // namespace vantor
