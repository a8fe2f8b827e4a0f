#pragma once
// What the probes share: the account (--user NAME) and the bus (--address ADDRESS) they are started
// with, and taking that account's groups and ids before they connect, so that the bus names the
// account as the caller, as it would name a desktop user.

#include <grp.h>
#include <sys/prctl.h>
#include <pwd.h>
#include <unistd.h>

#include <string>

struct ProbeAccount {
    std::string user;
    std::string address;

    ProbeAccount(int argc, char** argv)
    {
        for (int i = 1; i + 1 < argc; i += 2) {
            const std::string opt = argv[i];
            if (opt == "--user")
                user = argv[i + 1];
            else if (opt == "--address")
                address = argv[i + 1];
        }
    }

    bool become() const
    {
        const passwd* pw = user.empty() ? nullptr : ::getpwnam(user.c_str());
        if (!pw || ::initgroups(pw->pw_name, pw->pw_gid) != 0 || ::setresgid(pw->pw_gid, pw->pw_gid, pw->pw_gid) != 0
            || ::setresuid(pw->pw_uid, pw->pw_uid, pw->pw_uid) != 0)
            return false;
        // Taking other ids makes a process undumpable, and the leak checker of the sanitizer build
        // could not look at its own threads any more.
        ::prctl(PR_SET_DUMPABLE, 1);
        return true;
    }
};
