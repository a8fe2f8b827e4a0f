// vantor-poll: one poll of this computer's Samba server through the monitor's core, printed as the
// sessions table and each user's open files. It only looks: no access list is applied, so it
// closes no session.

#include "app/CommandLine.h"
#include "monitor/DetailsText.h"
#include "monitor/DeskCommands.h"
#include "monitor/SessionMonitor.h"
#include "platform/Clock.h"
#include "platform/Paths.h"
#include "platform/PlatformNetManagement.h"

#include <algorithm>
#include <cstdio>
#include <iostream>
#include <set>

using namespace vantor;

namespace {

std::string padded(const std::string& text, std::size_t width)
{
    return text.size() >= width ? text + " " : text + std::string(width - text.size(), ' ');
}

}  // namespace

int main(int argc, char** argv)
{
    std::vector<std::string> args(argv + 1, argv + argc);
    CommandLineResult cl = parseCommandLine(args);
    const std::string program = "vantor-poll";
    if (!cl.error.empty()) {
        std::cerr << program << ": " << cl.error << "\n" << commandLineUsage(program);
        return 2;
    }
    if (cl.options.help) {
        std::cout << commandLineUsage(program)
                  << "vantor-poll polls once, prints the sessions and their open files, and closes nothing.\n";
        return 0;
    }
    if (cl.options.demo) {
        std::cerr << program << ": --demo needs the main window; vantor-poll only polls a real server.\n";
        return 2;
    }

    const std::filesystem::path dataDir =
        cl.options.dataDir ? std::filesystem::path(*cl.options.dataDir) : defaultDataDirectory();
    PlatformNetOptions netOptions;
    netOptions.sambaConfig = cl.options.sambaConfig;
    netOptions.dataDir = dataDir;
    auto net = createPlatformNetManagement(netOptions);
    RecordingMessageBoxes boxes;
    SessionMonitor monitor({*net, boxes, SystemClock::instance(), dataDir, nullptr});

    monitor.pollSessions();
    if (!boxes.shown.empty()) {
        for (const auto& box : boxes.shown)
            std::cerr << box.caption << ": " << box.text << "\n";
        return 1;
    }

    const auto rows = monitor.sessionRows();
    std::cout << monitor.captionText() << "\n";
    if (rows.empty()) {
        std::cout << noActiveUsersText << "\n";
        return 0;
    }
    std::size_t userWidth = 4, computerWidth = 8;
    for (const auto& r : rows) {
        userWidth = std::max(userWidth, r.user.size());
        computerWidth = std::max(computerWidth, r.computer.size());
    }
    std::cout << padded("User", userWidth + 2) << padded("Computer", computerWidth + 2) << "Open files\n";
    for (const auto& r : rows)
        std::cout << padded(r.user, userWidth + 2) << padded(r.computer, computerWidth + 2) << r.openFiles << "\n";

    // What the service tells beyond the three columns, one block per session in the table's order.
    const int64_t now = SystemClock::instance().now();
    for (const auto& r : rows) {
        const std::string tip = sessionTooltip(r, now);
        if (tip.find('\n') == std::string::npos)
            continue;
        std::cout << "\nSession of " << tip.substr(0, tip.find('\n')) << ":\n";
        std::size_t pos = tip.find('\n');
        while (pos != std::string::npos) {
            const std::size_t next = tip.find('\n', pos + 1);
            std::cout << "  " << tip.substr(pos + 1, next == std::string::npos ? std::string::npos : next - pos - 1)
                      << "\n";
            pos = next;
        }
    }

    // The open-files table shows every session of the selected row's user: print each user once.
    std::set<std::string> printed;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        if (!printed.insert(rows[i].user).second)
            continue;
        DeskCommands(monitor).clickSessionRow(static_cast<int>(i));
        if (!boxes.shown.empty()) {
            std::cerr << boxes.shown.back().caption << ": " << boxes.shown.back().text << "\n";
            return 1;
        }
        std::cout << "\nOpen files of " << (rows[i].user.empty() ? std::string("<no user>") : rows[i].user) << ":\n";
        const auto& files = monitor.openFileRows();
        if (files.empty())
            std::cout << "  <none>\n";
        // The table lists them last-enumerated first, as the window does.
        for (const auto& f : files) {
            std::cout << "  " << (f.icon == FileIconKind::Folder ? "[folder] " : "") << f.path;
            std::string how;
            const NetFileInfo info{f.id, f.path, {}, {}, f.details};
            for (auto column : {OpenFileColumn::Share, OpenFileColumn::Access, OpenFileColumn::DenyMode,
                                OpenFileColumn::Oplock, OpenFileColumn::Locks, OpenFileColumn::OpenedAt}) {
                const std::string value = openFileText(info, column);
                if (!value.empty())
                    how += (how.empty() ? "" : ", ") + std::string(openFileTitle(column)) + ": " + value;
            }
            std::cout << (how.empty() ? std::string() : "  (" + how + ")") << "\n";
        }
    }
    return 0;
}
