#include "app/CommandLine.h"

namespace vantor {

CommandLineResult parseCommandLine(const std::vector<std::string>& args)
{
    CommandLineResult r;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto value = [&](std::optional<std::string>& into) {
            if (i + 1 >= args.size() || args[i + 1].empty()) {
                r.error = a + " needs a value.";
                return;
            }
            into = args[++i];
        };
        if (a == "--samba-config")
            value(r.options.sambaConfig);
        else if (a.rfind("--samba-config=", 0) == 0)
            r.options.sambaConfig = a.substr(15);
        else if (a == "--data-dir")
            value(r.options.dataDir);
        else if (a.rfind("--data-dir=", 0) == 0)
            r.options.dataDir = a.substr(11);
        else if (a == "--demo")
            r.options.demo = true;
        else if (a == "--help" || a == "-h")
            r.options.help = true;
        else if (a == "--version")
            r.options.version = true;
        else
            r.error = "Unknown argument: " + a;
        if (!r.error.empty())
            return r;
    }
    if ((r.options.sambaConfig && r.options.sambaConfig->empty()) || (r.options.dataDir && r.options.dataDir->empty()))
        r.error = "An option was given an empty value.";
    return r;
}

std::string commandLineUsage(const std::string& program)
{
    return "Usage: " + program
           + " [--samba-config FILE] [--data-dir DIR] [--demo] [--help] [--version]\n"
             "  --samba-config FILE  Samba configuration of the server to monitor\n"
             "  --data-dir DIR       where the history logs, list files and report are kept\n"
             "  --demo               monitor a private demo server with scripted clients\n"
             "  --help               show this text\n"
             "  --version            show the program's version\n";
}

}  // namespace vantor
