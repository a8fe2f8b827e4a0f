// Plays a demo that gets killed: starts a traceable private server with one account and one
// client logged on, prints the server's folder and the account, and waits to be killed.
#include "demo/PrivateSambaServer.h"
#include "demo/SmbClientHolder.h"

#include <iostream>
#include <unistd.h>

int main(int argc, char** argv)
{
    using namespace vantor::samba;
    if (argc != 2)
        return 2;
    PrivateSambaServer::Options options;
    options.accountPrefix = "";
    options.rootPrefix = argv[1];
    options.traceable = true;
    PrivateSambaServer server(options);
    std::string error;
    if (!server.start(error)) {
        std::cerr << error << "\n";
        return 1;
    }
    const std::string password = "Demo-pass-1";
    const std::string account = server.addUser("zed", password, error);
    if (account.empty()) {
        std::cerr << error << "\n";
        return 1;
    }
    SmbClientHolder::Options client;
    client.port = server.port();
    client.user = account;
    client.password = password;
    client.logFile = server.root() / "log" / "client";
    SmbClientHolder holder(client);
    if (!holder.connect(error)) {
        std::cerr << error << "\n";
        return 1;
    }
    std::cout << server.root().string() << "\n" << account << "\n" << std::flush;
    for (int i = 0; i < 600; ++i)  // killed long before
        ::sleep(1);
    return 0;
}
