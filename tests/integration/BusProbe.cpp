// A client of vantord's bus face as one account: started as root with --user NAME, it takes that
// account's ids before it connects (the bus then names the account as the caller, as it would name
// a desktop user), and answers the test's requests one line each:
//   sessions | files USER | close USER COMPUTER | close-all | set-option KEY VALUE
//   set-list KIND USER COMPUTER | clear-history | wait-change MS
//   new-users (their count, and " beep" and " popup" as the last one asked)
//   all-files | shares | close-file ID | add-list KIND USER COMPUTER
//   add-race N KIND (N clients at once, each adding "racerI <Any>")
//   history (its words, see HistoryWords.h) | report (the service's file, the page's length and hash)
//   test-mail (the outcome's number and the reason)
// A reply is "ok ..." or "error NAME TEXT". %XX in an argument stands for the byte XX.
#include "HistoryWords.h"
#include "ProbeAccount.h"
#include "bus/MonitorBusClient.h"

#include <functional>
#include <iostream>
#include <sstream>
#include <thread>

using namespace vantor;

namespace {

std::string decode(const std::string& text)
{
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size()) {
            out += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

std::string failed(const BusError& e)
{
    return "error " + e.name + " " + e.text;
}

}  // namespace

int main(int argc, char** argv)
{
    const ProbeAccount account(argc, argv);
    if (!account.become()) {
        std::cerr << "bus probe: cannot become " << account.user << "\n";
        return 2;
    }
    std::string error;
    auto client = MonitorBusClient::connect(account.address, error);
    if (!client) {
        std::cerr << "bus probe: " << error << "\n";
        return 1;
    }
    int changes = 0;
    int newUsers = 0;
    std::string lastNewUser;
    client->onSessionsChanged = [&] { ++changes; };
    client->onNewUser = [&](bool beep, bool popup) {
        ++newUsers;
        lastNewUser = std::string(beep ? " beep" : "") + (popup ? " popup" : "");
    };

    std::string line;
    while (std::getline(std::cin, line)) {
        std::istringstream in(line);
        std::string command, a, b;
        in >> command >> a >> b;
        a = decode(a);
        b = decode(b);
        BusError e;
        std::string reply;
        if (command == "sessions") {
            if (auto s = client->getSessions(e)) {
                reply = "ok " + std::to_string(s->currentSessions) + " " + std::to_string(s->openFilesTotal);
                for (const auto& row : s->rows)
                    reply += " " + row.user + "@" + row.computer + "#" + std::to_string(row.openFiles);
            }
        } else if (command == "status") {
            // One line: the route, then the error.
            if (auto s = client->getStatus(e))
                reply = "ok route=" + (*s)["pollRoute"] + " error=" + (*s)["pollError"];
        } else if (command == "files") {
            if (auto rows = client->getOpenFiles(a, e)) {
                reply = "ok";
                for (const auto& row : *rows)
                    reply += " " + row.path + "#" + std::to_string(row.id) + ":" + row.details.share;
            }
        } else if (command == "close") {
            if (client->closeSession(a, b, e))
                reply = "ok";
        } else if (command == "close-all") {
            if (client->closeAllSessions(e))
                reply = "ok";
        } else if (command == "set-server") {
            if (client->setRemoteServer(a, e))
                reply = "ok";
        } else if (command == "set-option") {
            if (client->setOptions({{a, b}}, e))
                reply = "ok";
        } else if (command == "set-list") {
            std::string computer;
            in >> computer;
            if (client->setList(a, {{b, decode(computer)}}, e))
                reply = "ok";
        } else if (command == "clear-history") {
            if (client->clearHistory(e))
                reply = "ok";
        } else if (command == "all-files") {
            if (auto files = client->getAllOpenFiles(e)) {
                reply = "ok";
                for (const auto& f : *files)
                    reply += " " + f.user + ":" + f.path + "#" + std::to_string(f.id);
            }
        } else if (command == "shares") {
            if (auto shares = client->getShares(e)) {
                reply = "ok";
                for (const auto& share : *shares)
                    reply += " " + share.name + "=" + share.path;
            }
        } else if (command == "close-file") {
            if (client->closeFile(static_cast<uint32_t>(std::stoul(a)), e))
                reply = "ok";
        } else if (command == "add-list") {
            std::string computer;
            in >> computer;
            if (client->addToList(a, b, decode(computer), e))
                reply = "ok";
        } else if (command == "add-race") {
            // Each on a connection of its own, as two desktops would be.
            const int n = std::stoi(a);
            std::vector<BusError> errors(static_cast<std::size_t>(n));
            std::vector<std::thread> racers;
            for (int i = 0; i < n; ++i)
                racers.emplace_back([&, i] {
                    std::string why;
                    auto own = MonitorBusClient::connect(account.address, why);
                    BusError& mine = errors[static_cast<std::size_t>(i)];
                    if (!own)
                        mine = {"connect", why};
                    else
                        own->addToList(b, "racer" + std::to_string(i), "<Any>", mine);
                });
            for (auto& t : racers)
                t.join();
            reply = "ok";
            for (const auto& racerError : errors)
                if (racerError)
                    reply = failed(racerError);
        } else if (command == "history") {
            if (auto history = client->getHistory(e))
                reply = "ok" + test::historyWords(*history);
        } else if (command == "report") {
            if (auto report = client->makeReport(e))
                reply = "ok " + report->serviceFile + " " + std::to_string(report->page.size()) + " "
                        + std::to_string(std::hash<std::string>{}(report->page));
        } else if (command == "test-mail") {
            if (auto mail = client->sendTestMail(e))
                reply = "ok " + std::to_string(static_cast<int>(mail->outcome)) + " " + mail->reason;
        } else if (command == "wait-change") {
            const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(std::stoi(a));
            client->process();
            while (changes == 0 && std::chrono::steady_clock::now() < end)
                client->wait(std::chrono::milliseconds(100));
            reply = changes > 0 ? "ok changed" : "ok timeout";
            changes = 0;
        } else if (command == "new-users") {
            client->process();
            reply = "ok " + std::to_string(newUsers) + lastNewUser;
        } else {
            reply = "error unknown " + command;
        }
        if (reply.empty())
            reply = failed(e);
        for (char& c : reply)
            if (c == '\n')
                c = ' ';
        std::cout << reply << std::endl;
    }
    return 0;
}
