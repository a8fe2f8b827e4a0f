#pragma once
// A SessionMonitor over the fake service, with recorded message boxes, a manual clock and a
// temporary data directory.

#include "TempDir.h"
#include "monitor/SessionMonitor.h"
#include "monitor/DeskCommands.h"
#include "demo/FakeNetManagement.h"

#include <set>

namespace vantor::test {

class SetFileInspector final : public FileInspector {
public:
    bool isDirectoryOrUnreadable(const std::string& path) const override { return !regularFiles.count(path); }
    std::set<std::string> regularFiles;
};

struct RecordingView final : MonitorView {
    void sessionsTableChanged() override { ++sessionsChanges; }
    void openFilesTableChanged() override { ++filesChanges; }
    void captionChanged() override { ++captionChanges; }
    void startFlash() override { ++flashes; }
    int sessionsChanges = 0, filesChanges = 0, captionChanges = 0, flashes = 0;
};

struct RecordingMail final : MailSender {
    struct Mail {
        std::string server, to, from, subject, body;
        MailRelay relay;
    };
    void sendMail(const MailRelay& relay, const std::string& to, const std::string& from, const std::string& subject,
                  const std::string& body) override
    {
        mails.push_back({relay.server, to, from, subject, body, relay});
    }
    std::vector<Mail> mails;
};

struct MonitorHarness {
    MonitorHarness()
        : monitor({net, boxes, clock, dir.path(), &inspector})
    {
        monitor.setView(&view);
        monitor.setMailSender(&mail);
    }

    std::vector<std::string> rowUsers() const
    {
        std::vector<std::string> users;
        for (const auto& r : monitor.sessionRows())
            users.push_back(r.user);
        return users;
    }
    std::vector<std::string> filePaths() const
    {
        std::vector<std::string> paths;
        for (const auto& r : monitor.openFileRows())
            paths.push_back(r.path);
        return paths;
    }

    TempDir dir;
    FakeNetManagement net;
    RecordingMessageBoxes boxes;
    ManualClock clock;
    SetFileInspector inspector;
    RecordingView view;
    RecordingMail mail;
    SessionMonitor monitor;
};

}  // namespace vantor::test
