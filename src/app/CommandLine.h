#pragma once
// The program's command line: additions for Linux and tests; none changes what the monitor does.

#include <optional>
#include <string>
#include <vector>

namespace vantor {

struct CommandLine {
    std::optional<std::string> sambaConfig;  // --samba-config FILE
    std::optional<std::string> dataDir;  // --data-dir DIR
    bool demo = false;  // --demo
    bool help = false;  // --help
    bool version = false;  // --version
};

struct CommandLineResult {
    CommandLine options;
    std::string error;  // non-empty: the arguments were refused, with this text
};

CommandLineResult parseCommandLine(const std::vector<std::string>& args);
std::string commandLineUsage(const std::string& program);

}  // namespace vantor
