#include "service/ServiceCommandLine.h"

#include <charconv>

namespace vantor {

ServiceCommandLineResult parseServiceCommandLine(const std::vector<std::string>& args)
{
    ServiceCommandLineResult r;
    for (std::size_t i = 0; i < args.size() && r.error.empty(); ++i) {
        const std::string& a = args[i];
        auto value = [&]() -> std::optional<std::string> {
            if (i + 1 >= args.size() || args[i + 1].empty()) {
                r.error = a + " needs a value";
                return std::nullopt;
            }
            return args[++i];
        };
        auto port = [&](std::optional<uint16_t>& target) {
            const auto v = value();
            if (!v)
                return;
            unsigned n = 0;
            const auto [end, ec] = std::from_chars(v->data(), v->data() + v->size(), n);
            if (ec != std::errc() || end != v->data() + v->size() || n == 0 || n > 65535)
                r.error = a + ": not a port: " + *v;
            else
                target = static_cast<uint16_t>(n);
        };
        if (a == "--help" || a == "-h")
            r.options.help = true;
        else if (a == "--version")
            r.options.version = true;
        else if (a == "--config") {
            if (auto v = value())
                r.options.config = *v;
        } else if (a == "--data-dir") {
            if (auto v = value())
                r.options.dataDir = *v;
        } else if (a == "--samba-config") {
            if (auto v = value())
                r.options.sambaConfig = *v;
        } else if (a == "--command-port")
            port(r.options.commandPort);
        else if (a == "--discovery-port")
            port(r.options.discoveryPort);
        else if (a == "--listen") {
            if (auto v = value())
                r.options.listen = *v;
        } else
            r.error = "unknown argument: " + a;
    }
    return r;
}

std::string serviceUsage()
{
    return "usage: vantord [OPTIONS]\n"
           "The Vantor service: watches the sessions on this computer's Samba shares, enforces the\n"
           "black or white list, keeps the history and serves monitoring consoles. No window.\n"
           "\n"
           "  --config FILE          settings (default /etc/vantor/vantor.conf)\n"
           "  --data-dir DIR         history logs, list files, report (default /var/lib/vantor)\n"
           "  --samba-config FILE    the Samba configuration to monitor (default: Samba's own)\n"
           "  --command-port N       the console agent's command port (default 36872)\n"
           "  --discovery-port N     the console agent's discovery port (default 36869)\n"
           "  --listen ADDRESS       the address the agent listens on, in place of consoleListen\n"
           "                         (default: none, the agent is off); it serves consoleAllow\n"
           "  --help, --version\n"
           "\n"
           "SIGHUP reads the settings and the lists again; SIGTERM ends the service.\n";
}

}  // namespace vantor
