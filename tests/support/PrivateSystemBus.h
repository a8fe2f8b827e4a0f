#pragma once
// A system bus of a test's (or a bench's) own on a socket in its folder, like the machine's in that
// method calls are denied unless a policy file allows them, with only polkit's policy and Vantor's
// own; Debian's polkitd on it, and Vantor's polkit actions where polkitd reads them. Root only:
// polkitd drops to its own account, and a copy of the actions goes to /usr/share/polkit-1/actions
// (removed again at the end). While it runs,
// DBUS_SYSTEM_BUS_ADDRESS names it, for the programs started after it.

#include "platform/Process.h"

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <unistd.h>

namespace vantor::test {

// A file put where the system looks for it, gone again when its owner ends however that ends. A
// file that was there already is left as it is.
class PlacedFile {
public:
    PlacedFile(std::filesystem::path path, const std::string& content)
        : m_path(std::move(path))
    {
        namespace fs = std::filesystem;
        if (fs::exists(m_path))
            return;
        fs::create_directories(m_path.parent_path());
        std::ofstream(m_path) << content;
        fs::permissions(m_path, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read
                                    | fs::perms::others_read);
        m_placed = true;
    }
    ~PlacedFile()
    {
        std::error_code ec;
        if (m_placed)
            std::filesystem::remove(m_path, ec);
    }
    PlacedFile(const PlacedFile&) = delete;
    PlacedFile& operator=(const PlacedFile&) = delete;

private:
    std::filesystem::path m_path;
    bool m_placed = false;
};

inline std::string readWholeFile(const std::filesystem::path& file)
{
    std::ifstream in(file, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

class PrivateSystemBus {
public:
    static bool available()
    {
        return std::filesystem::exists("/usr/lib/polkit-1/polkitd") && std::filesystem::exists("/usr/bin/dbus-daemon");
    }

    // The socket is made in `dir`, which is opened for polkitd and other callers to pass. Rules of the caller's go to
    // /etc/polkit-1/rules.d before this, so that polkitd reads them at its start.
    bool start(const std::filesystem::path& dir, const std::filesystem::path& sourceDir, std::string& error)
    {
        m_dir = dir;
        std::filesystem::permissions(dir, std::filesystem::perms::group_exec | std::filesystem::perms::others_exec,
                                     std::filesystem::perm_options::add);
        // A copy of its own under a name of its own: the package test may install and remove the
        // package's file meanwhile, and polkitd takes the actions from every file.
        m_action = std::make_unique<PlacedFile>(
            "/usr/share/polkit-1/actions/org.vantor.monitor.test-" + std::to_string(::getpid()) + ".policy",
            readWholeFile(sourceDir / "packaging/polkit/org.vantor.monitor.policy"));
        const std::filesystem::path socket = dir / "system_bus_socket";
        std::ofstream(dir / "bus.conf") << config(socket, sourceDir);
        m_address = "unix:path=" + socket.string();
        ChildProcess::Options o;
        o.outputFile = (dir / "bus.log").string();
        if (!m_bus.start({"/usr/bin/dbus-daemon", "--nofork", "--config-file=" + (dir / "bus.conf").string()}, o,
                         error))
            return false;
        if (!waitUntil([&] { return std::filesystem::exists(socket) || !m_bus.running(); }) || !m_bus.running()) {
            error = "dbus-daemon did not start: " + readWholeFile(dir / "bus.log");
            return false;
        }
        // polkitd (and whatever the owner starts after it: vantord, clients) finds the bus here.
        ::setenv("DBUS_SYSTEM_BUS_ADDRESS", m_address.c_str(), 1);
        o.outputFile = (dir / "polkitd.log").string();
        if (!m_polkitd.start({"/usr/lib/polkit-1/polkitd", "--no-debug"}, o, error))
            return false;
        if (!waitUntil([&] { return nameOwned("org.freedesktop.PolicyKit1"); })) {
            error = "polkitd did not come on the bus: " + readWholeFile(dir / "polkitd.log");
            return false;
        }
        return true;
    }

    ~PrivateSystemBus()
    {
        m_polkitd.stop();
        m_bus.stop();
        ::unsetenv("DBUS_SYSTEM_BUS_ADDRESS");
    }

    const std::string& address() const { return m_address; }
    void stopPolkit() { m_polkitd.stop(); }

    bool nameOwned(const std::string& name) const
    {
        ProcessOptions o;
        o.timeLimit = std::chrono::seconds(5);
        // The bus's own answer, not "busctl status": that one also reads the owner's control group,
        // which a chroot without /sys/fs/cgroup does not have (systemd 257 then fails the call).
        const ProcessResult r = runProcess({"busctl", "--address=" + m_address, "call", "org.freedesktop.DBus",
                                            "/org/freedesktop/DBus", "org.freedesktop.DBus", "NameHasOwner", "s", name},
                                           o);
        return r.succeeded() && r.out.starts_with("b true");
    }

private:
    template <class Pred> static bool waitUntil(Pred done)
    {
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!done()) {
            if (std::chrono::steady_clock::now() > end)
                return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return true;
    }

    static std::string config(const std::filesystem::path& socket, const std::filesystem::path& sourceDir)
    {
        return R"(<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>system</type>
  <listen>unix:path=)"
               + socket.string() + R"(</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow user="*"/>
    <deny own="*"/>
    <deny send_type="method_call"/>
    <allow send_type="signal"/>
    <allow send_requested_reply="true" send_type="method_return"/>
    <allow send_requested_reply="true" send_type="error"/>
    <allow receive_type="method_call"/>
    <allow receive_type="method_return"/>
    <allow receive_type="error"/>
    <allow receive_type="signal"/>
    <allow send_destination="org.freedesktop.DBus" send_interface="org.freedesktop.DBus"/>
  </policy>
  <include>/usr/share/dbus-1/system.d/org.freedesktop.PolicyKit1.conf</include>
  <include>)" + (sourceDir / "packaging/dbus/org.vantor.Monitor1.conf").string()
               + R"(</include>
</busconfig>
)";
    }

    std::filesystem::path m_dir;
    std::unique_ptr<PlacedFile> m_action;
    std::string m_address;
    ChildProcess m_bus;
    ChildProcess m_polkitd;
};

}  // namespace vantor::test
