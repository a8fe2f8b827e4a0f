#pragma once
// A second start of the desktop program on a data folder that a running one holds brings the
// running program's window up, as its "Main dialog" command does, instead of leaving the user with
// a message only. The running program listens on a local socket named for the user and the folder.

#include <QObject>
#include <QString>

#include <filesystem>

class QLocalServer;

namespace vantor {

// Where the running program for `dataDir` listens: in the user's runtime folder when there is one
// (private to the user), else in the temporary folder under a name with the user's id.
QString runningInstanceSocket(const std::filesystem::path& dataDir);

// Asks the running program to show its window; true once it has said it did.
bool askRunningInstanceToShow(const std::filesystem::path& dataDir, int timeoutMs = 2000);

class RunningInstanceListener final : public QObject {
    Q_OBJECT
public:
    explicit RunningInstanceListener(QObject* parent = nullptr);
    // Listens for `dataDir`. The caller holds the folder's lock, so a socket left there is one a
    // killed program left behind, and it is replaced.
    bool listen(const std::filesystem::path& dataDir);

signals:
    void showRequested();

private:
    QLocalServer* m_server;
};

}  // namespace vantor
