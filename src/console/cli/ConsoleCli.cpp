#include "console/cli/ConsoleCli.h"

#include "console/ConsoleClient.h"

#include <algorithm>
#include <charconv>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <iostream>
#include <map>
#include <optional>

namespace vantor::console {

namespace {

struct Invocation {
    ConsoleClient::Config config;
    std::string command;
    std::vector<std::string> operands;
    std::string outputFile = "report.html";
};

template <typename T> std::optional<T> number(const std::string& text, T lowest, T highest)
{
    T value{};
    auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || ec != std::errc{} || ptr != text.data() + text.size() || value < lowest || value > highest)
        return std::nullopt;
    return value;
}

// How many operands each command takes: {fewest, most}.
const std::map<std::string, std::pair<std::size_t, std::size_t>>& commands()
{
    static const std::map<std::string, std::pair<std::size_t, std::size_t>> table{
        {"discover", {0, 1}},    {"id", {1, 1}},    {"sessions", {1, 1}},  {"report", {1, 1}},
        {"delete-logs", {1, 1}}, {"close", {3, 3}}, {"close-all", {1, 1}},
    };
    return table;
}

std::optional<Invocation> parseArguments(const std::vector<std::string>& args, std::string& error)
{
    Invocation inv;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto value = [&]() -> std::optional<std::string> {
            if (i + 1 >= args.size()) {
                error = a + " needs a value";
                return std::nullopt;
            }
            return args[++i];
        };
        auto port = [&](uint16_t& target) {
            const auto v = value();
            const auto p = v ? number<uint16_t>(*v, 1, 65535) : std::nullopt;
            if (v && !p)
                error = a + ": not a port: " + *v;
            if (p)
                target = *p;
            return p.has_value();
        };
        if (a == "--timeout") {
            const auto v = value();
            const auto s = v ? number<uint32_t>(*v, 1, 3600) : std::nullopt;
            if (!s) {
                if (v)
                    error = "--timeout: not a number of seconds from 1 to 3600: " + *v;
                return std::nullopt;
            }
            inv.config.timeoutSeconds = *s;
        } else if (a == "--command-port") {
            if (!port(inv.config.commandPort))
                return std::nullopt;
        } else if (a == "--discovery-port") {
            if (!port(inv.config.discoveryPort))
                return std::nullopt;
        } else if (a == "--reply-port") {
            if (!port(inv.config.replyPort))
                return std::nullopt;
        } else if (a == "-o" || a == "--output") {
            const auto v = value();
            if (!v)
                return std::nullopt;
            inv.outputFile = *v;
        } else if (a.size() > 1 && a[0] == '-' && a != "-") {
            error = "unknown option " + a;
            return std::nullopt;
        } else if (inv.command.empty()) {
            inv.command = a;
        } else {
            inv.operands.push_back(a);
        }
    }
    if (inv.command.empty()) {
        error = "no command given";
        return std::nullopt;
    }
    const auto it = commands().find(inv.command);
    if (it == commands().end()) {
        error = "unknown command " + inv.command;
        return std::nullopt;
    }
    const auto [fewest, most] = it->second;
    if (inv.operands.size() < fewest || inv.operands.size() > most) {
        error = inv.command + ": wrong number of arguments";
        return std::nullopt;
    }
    return inv;
}

void printSessions(std::ostream& out, const std::vector<SessionEntry>& peerRows)
{
    std::vector<SessionEntry> rows = peerRows;
    for (auto& r : rows) {
        r.user = printableText(r.user);
        r.computer = printableText(r.computer);
    }
    const std::string userTitle = "User", computerTitle = "Computer", filesTitle = "# Open files";
    std::size_t userWidth = userTitle.size(), computerWidth = computerTitle.size();
    for (const auto& r : rows) {
        userWidth = std::max(userWidth, r.user.size());
        computerWidth = std::max(computerWidth, r.computer.size());
    }
    out << std::left << std::setw(static_cast<int>(userWidth)) << userTitle << "  "
        << std::setw(static_cast<int>(computerWidth)) << computerTitle << "  " << filesTitle << '\n';
    for (const auto& r : rows)
        out << std::left << std::setw(static_cast<int>(userWidth)) << r.user << "  "
            << std::setw(static_cast<int>(computerWidth)) << r.computer << "  " << std::right
            << std::setw(static_cast<int>(filesTitle.size())) << r.openFiles << '\n';
    out << rows.size() << (rows.size() == 1 ? " session\n" : " sessions\n");
}

std::string counted(int n, const char* what)
{
    return std::to_string(n) + " " + what + (n == 1 ? "" : "s");
}

void printIdentity(std::ostream& out, const std::string& address, const Identity& id)
{
    if (!address.empty())
        out << address << "  ";
    out << "computer " << printableText(id.computerName) << ", " << counted(id.sessions, "session") << ", "
        << counted(id.openFiles, "open file") << '\n';
}

int fetchReport(ConsoleClient& client, const Invocation& inv, std::ostream& out, std::ostream& err)
{
    const std::string& host = inv.operands[0];
    const bool toStdout = inv.outputFile == "-";
    std::ofstream file;
    if (!toStdout) {
        file.open(inv.outputFile, std::ios::binary | std::ios::trunc);
        if (!file) {
            err << "vantor-console: cannot write " << inv.outputFile << '\n';
            return exitFailed;
        }
    }
    std::ostream& sink = toStdout ? out : file;
    std::ostream& info = toStdout ? err : out;
    int lastPercent = -1;
    const auto result = client.report(
        host, sink, [&](uint32_t size) { info << "report size: " << size << " bytes\n"; },
        [&](uint64_t received, uint32_t size) {
            const int percent = size ? static_cast<int>(std::min<uint64_t>(received * 100 / size, 100)) : 100;
            if (percent != lastPercent) {
                lastPercent = percent;
                err << "\rreceived " << received << " of " << size << " bytes (" << percent << "%)" << std::flush;
            }
        });
    if (lastPercent >= 0)
        err << '\n';
    if (!result) {
        if (!toStdout) {
            file.close();
            std::error_code ec;
            std::filesystem::remove(inv.outputFile, ec);
        }
        err << "vantor-console: " << result.error << '\n';
        return exitFailed;
    }
    if (!toStdout) {
        file.close();
        if (!file) {
            err << "vantor-console: cannot write " << inv.outputFile << '\n';
            return exitFailed;
        }
        info << "saved " << *result.value << " bytes to " << inv.outputFile << '\n';
    }
    return exitOk;
}

template <typename T> int failed(const Outcome<T>& outcome, std::ostream& err)
{
    err << "vantor-console: " << outcome.error << '\n';
    return exitFailed;
}

// The length of the UTF-8 sequence that starts `text` when it is a well-formed one (no overlong
// form, no surrogate, nothing past U+10FFFF), else 0.
std::size_t utf8SequenceLength(std::string_view text)
{
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(0);
    std::size_t length = 0;
    unsigned char low = 0x80, high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        low = lead == 0xE0 ? 0xA0 : 0x80;
        high = lead == 0xED ? 0x9F : 0xBF;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF;
    } else {
        return 0;
    }
    if (text.size() < length || byte(1) < low || byte(1) > high)
        return 0;
    for (std::size_t i = 2; i < length; ++i)
        if (byte(i) < 0x80 || byte(i) > 0xBF)
            return 0;
    return length;
}

}  // namespace

std::string printableText(std::string_view text)
{
    static const char digits[] = "0123456789abcdef";
    std::string out;
    out.reserve(text.size());
    auto escape = [&](unsigned char c) {
        out += "\\x";
        out += digits[c >> 4];
        out += digits[c & 0xF];
    };
    while (!text.empty()) {
        const auto c = static_cast<unsigned char>(text[0]);
        if (c < 0x80) {
            if (c < 0x20 || c == 0x7F)
                escape(c);
            else
                out += static_cast<char>(c);
            text.remove_prefix(1);
            continue;
        }
        const std::size_t length = utf8SequenceLength(text);
        // U+0080 to U+009F (C2 80 to C2 9F) are the C1 controls: CSI among them starts escapes
        // on many terminals.
        const bool c1 = length == 2 && c == 0xC2 && static_cast<unsigned char>(text[1]) <= 0x9F;
        if (length == 0 || c1) {
            const std::size_t count = c1 ? 2 : 1;
            for (std::size_t i = 0; i < count; ++i)
                escape(static_cast<unsigned char>(text[i]));
            text.remove_prefix(count);
            continue;
        }
        out.append(text.substr(0, length));
        text.remove_prefix(length);
    }
    return out;
}

std::string consoleUsage()
{
    return "usage: vantor-console [OPTIONS] COMMAND [ARGUMENTS]\n"
           "\n"
           "Commands:\n"
           "  discover [HOST]          send \"list\" to HOST (default: the broadcast address\n"
           "                           255.255.255.255) and print every agent that answers\n"
           "  id HOST                  print the agent's computer name and counts\n"
           "  sessions HOST            print the agent's sessions table\n"
           "  report HOST [-o FILE]    fetch the web-based report (default file: report.html;\n"
           "                           '-' writes it to standard output)\n"
           "  delete-logs HOST         delete the agent's history logs\n"
           "  close HOST USER COMPUTER close the session of USER from COMPUTER\n"
           "  close-all HOST           close every session\n"
           "\n"
           "Options:\n"
           "  --timeout SECONDS        how long to wait for a connection or a reply, and how long\n"
           "                           discover collects replies (default 5)\n"
           "  --command-port N         the agent's command port (default 36872)\n"
           "  --discovery-port N       the agent's discovery port (default 36869)\n"
           "  --reply-port N           where discover takes the replies (default 36870)\n"
           "\n"
           "Exit status: 0 done, 1 the host did not answer or the exchange failed, 2 usage error.\n";
}

int runConsole(const std::vector<std::string>& args, std::ostream& out, std::ostream& err)
{
    if (std::find(args.begin(), args.end(), "--help") != args.end()
        || std::find(args.begin(), args.end(), "-h") != args.end()) {
        out << consoleUsage();
        return exitOk;
    }
    std::string error;
    const auto inv = parseArguments(args, error);
    if (!inv) {
        err << "vantor-console: " << error << "\n\n" << consoleUsage();
        return exitUsage;
    }
    ConsoleClient client(inv->config);
    const auto& ops = inv->operands;

    if (inv->command == "discover") {
        const std::string target = ops.empty() ? "255.255.255.255" : ops[0];
        const auto found =
            client.discover(target, [&](const DiscoveredAgent& a) { printIdentity(out, a.address, a.identity); });
        if (!found)
            return failed(found, err);
        if (found.value->empty()) {
            err << "vantor-console: no agent answered within " << inv->config.timeoutSeconds << " s\n";
            return exitFailed;
        }
        return exitOk;
    }
    if (inv->command == "id") {
        const auto id = client.identity(ops[0]);
        if (!id)
            return failed(id, err);
        printIdentity(out, {}, *id.value);
        return exitOk;
    }
    if (inv->command == "sessions") {
        const auto rows = client.sessions(ops[0]);
        if (!rows)
            return failed(rows, err);
        printSessions(out, *rows.value);
        return exitOk;
    }
    if (inv->command == "report")
        return fetchReport(client, *inv, out, err);

    Outcome<Done> done;
    if (inv->command == "delete-logs")
        done = client.deleteLogs(ops[0]);
    else if (inv->command == "close")
        done = client.closeSession(ops[0], ops[1], ops[2]);
    else
        done = client.closeAll(ops[0]);
    if (!done)
        return failed(done, err);
    out << "done\n";
    return exitOk;
}

}  // namespace vantor::console
