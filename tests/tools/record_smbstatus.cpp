// Records what `smbstatus --json` really says about a small private Samba server: two users, three
// client connections (one from 127.0.0.2), files, a folder and a non-ASCII name held open, one file
// open for writing, and one session on two shares. The recording is the tests' and the bench's
// fixture. Run as root: vantor-record-smbstatus OUT.json

#include "platform/Process.h"
#include "demo/PrivateSambaServer.h"
#include "demo/SmbClientHolder.h"
#include "demo/TcpForwarder.h"

#include <fstream>
#include <iostream>
#include <memory>

using namespace vantor;
using namespace vantor::samba;

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::cerr << "usage: " << argv[0] << " OUT.json\n";
        return 2;
    }
    PrivateSambaServer::Options options;
    options.shares = { "docs", "media" };
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
    for (const char* name : { "budget.xlsx", "minutes 2024.docx", "caf\xc3\xa9.txt", "projects/plan.txt" })
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

    ProcessResult r = runProcess({ findProgram("smbstatus"), "-s", server.configFile().string(), "--json", "-B" });
    if (!r.succeeded()) {
        std::cerr << "smbstatus failed: " << r.err << "\n";
        return 1;
    }
    std::ofstream(argv[1], std::ios::binary) << r.out;
    std::cout << "recorded " << r.out.size() << " bytes to " << argv[1] << "\n";
    return 0;
}
