// Records what `smbstatus --json` really says about a small private Samba server: two users, three
// client connections (one from 127.0.0.2), files, a folder and a non-ASCII name held open, one file
// open for writing, and one session on two shares. The recording is the tests' and the bench's
// fixture. Run as root: vantor-record-smbstatus OUT.json
//
// With --locks OUT.json OUT.txt it records instead one SMB1 session with the unix extensions that
// holds a file with two byte-range locks (written 0-9, read 20-23) and another file without: the
// JSON listing (`--json -B`) and the text one the poll falls back to (`-L -B`).

#include "platform/Process.h"
#include "demo/PrivateSambaServer.h"
#include "demo/SmbClientHolder.h"
#include "demo/TcpForwarder.h"

#include <fstream>
#include <iostream>
#include <memory>
#include <utility>
#include <vector>

using namespace vantor;
using namespace vantor::samba;

namespace {

int recordLocks(const std::string& jsonOut, const std::string& textOut)
{
    PrivateSambaServer::Options options;
    options.shares = {"docs"};
    // SMB1's unix extensions: the one way smbclient takes a byte-range lock.
    options.globalOptions = {"server min protocol = NT1", "unix extensions = yes"};
    PrivateSambaServer server(options);
    std::string error;
    if (!server.start(error)) {
        std::cerr << error << "\n";
        return 1;
    }
    const std::string ann = server.addUser("ann", "pw1", error);
    if (ann.empty()) {
        std::cerr << error << "\n";
        return 1;
    }
    for (const char* name : {"a.txt", "b.txt"}) {
        std::ofstream(server.sharePath("docs") / name) << "0123456789abcdefghijklmnopqrstuvwxyz\n";
        std::filesystem::permissions(server.sharePath("docs") / name, std::filesystem::perms(0666));
    }
    SmbClientHolder::Options o;
    o.port = server.port();
    o.share = "docs";
    o.user = ann;
    o.password = "pw1";
    o.protocol = "NT1";
    SmbClientHolder c(o);
    if (!c.connect(error) || !c.posix() || !c.open("a.txt") || !c.open("b.txt") || !c.lock("a.txt", true, 0, 10)
        || !c.lock("a.txt", false, 20, 4)) {
        std::cerr << "the client could not open and lock: " << error << "\n";
        return 1;
    }
    for (auto [args, out] : {std::pair{std::vector<std::string>{"--json", "-B"}, jsonOut},
                             std::pair{std::vector<std::string>{"-L", "-B"}, textOut}}) {
        std::vector<std::string> argv{findProgram("smbstatus"), "-s", server.configFile().string()};
        argv.insert(argv.end(), args.begin(), args.end());
        ProcessResult r = runProcess(argv);
        if (!r.succeeded()) {
            std::cerr << "smbstatus failed: " << r.err << "\n";
            return 1;
        }
        std::ofstream(out, std::ios::binary) << r.out;
        std::cout << "recorded " << r.out.size() << " bytes to " << out << "\n";
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc == 4 && std::string(argv[1]) == "--locks")
        return recordLocks(argv[2], argv[3]);
    if (argc != 2) {
        std::cerr << "usage: " << argv[0] << " OUT.json | --locks OUT.json OUT.txt\n";
        return 2;
    }
    PrivateSambaServer::Options options;
    options.shares = {"docs", "media"};
    PrivateSambaServer server(options);
    std::string error;
    if (!server.start(error)) {
        std::cerr << error << "\n";
        return 1;
    }
    const std::string ann = server.addUser("ann", "pw1", error);
    const std::string ben = server.addUser("ben", "pw2", error);
    if (ann.empty() || ben.empty()) {
        std::cerr << error << "\n";
        return 1;
    }
    const auto docs = server.sharePath("docs");
    std::filesystem::create_directories(docs / "projects");
    std::filesystem::permissions(docs / "projects", std::filesystem::perms(0777));
    for (const char* name : {"budget.xlsx", "minutes 2024.docx", "caf\xc3\xa9.txt", "projects/plan.txt"})
        std::ofstream(docs / name) << "x\n";
    // Writable by the accounts, so that smbclient's open takes it for reading and writing.
    std::filesystem::permissions(docs / "budget.xlsx", std::filesystem::perms(0666));
    std::ofstream(server.sharePath("media") / "intro.mp4") << "x\n";

    TcpForwarder forwarder("127.0.0.2", server.port());
    if (!forwarder.start(error)) {
        std::cerr << error << "\n";
        return 1;
    }
    auto client = [&](const std::string& user, const std::string& pw, uint16_t port) {
        SmbClientHolder::Options o;
        o.port = port;
        o.share = "docs";
        o.user = user;
        o.password = pw;
        auto c = std::make_unique<SmbClientHolder>(o);
        if (!c->connect(error))
            std::cerr << error << "\n";
        return c;
    };
    auto c1 = client(ann, "pw1", server.port());
    c1->open("budget.xlsx");
    c1->open("caf\xc3\xa9.txt");
    c1->open("projects");
    auto c2 = client(ben, "pw2", forwarder.port());
    c2->open("minutes 2024.docx");
    c2->open("budget.xlsx");
    auto c3 = client(ann, "pw1", forwarder.port());
    c3->open("projects/plan.txt");
    if (!c3->connectShare("media") || !c3->open("intro.mp4"))
        std::cerr << "the second share could not be used\n";

    ProcessResult r = runProcess({findProgram("smbstatus"), "-s", server.configFile().string(), "--json", "-B"});
    if (!r.succeeded()) {
        std::cerr << "smbstatus failed: " << r.err << "\n";
        return 1;
    }
    std::ofstream(argv[1], std::ios::binary) << r.out;
    std::cout << "recorded " << r.out.size() << " bytes to " << argv[1] << "\n";
    return 0;
}
