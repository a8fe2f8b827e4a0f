#include "demo/PrivateSambaServer.h"

#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <netinet/in.h>
#include <sstream>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace vantor::samba {

namespace {

namespace fs = std::filesystem;
using SteadyClock = std::chrono::steady_clock;

std::atomic<int> accountCounter{0};

int openSocket()
{
    return ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
}

sockaddr_in loopbackAddress(const std::string& address, uint16_t port)
{
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    ::inet_pton(AF_INET, address.c_str(), &a.sin_addr);
    return a;
}

// Account tools take a lock on /etc/passwd; parallel test runs may hold it for a moment.
ProcessResult runAccountTool(const std::vector<std::string>& argv, const std::string& input = {})
{
    ProcessOptions po;
    po.timeLimit = std::chrono::seconds(20);
    po.input = input;
    ProcessResult r;
    for (int attempt = 0; attempt < 20; ++attempt) {
        r = runProcess(argv, po);
        if (r.succeeded() || r.err.find("lock") == std::string::npos)
            return r;
        std::this_thread::sleep_for(std::chrono::milliseconds(250));
    }
    return r;
}

std::string describe(const ProcessResult& r)
{
    switch (r.outcome) {
    case ProcessResult::Outcome::StartFailed:
        return std::string("could not start: ") + std::strerror(r.startError);
    case ProcessResult::Outcome::TimedOut:
        return "timed out";
    case ProcessResult::Outcome::OutputTooLarge:
        return "too much output";
    case ProcessResult::Outcome::Signalled:
        return "signal " + std::to_string(r.signal);
    case ProcessResult::Outcome::Exited:
        break;
    }
    return "exit " + std::to_string(r.exitCode) + ": " + r.err + r.out;
}

}  // namespace

uint16_t freeLoopbackPort()
{
    int fd = openSocket();
    if (fd < 0)
        return 0;
    sockaddr_in a = loopbackAddress("127.0.0.1", 0);
    uint16_t port = 0;
    socklen_t len = sizeof a;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0
        && ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) == 0)
        port = ntohs(a.sin_port);
    ::close(fd);
    return port;
}

bool acceptsConnections(const std::string& address, uint16_t port)
{
    int fd = openSocket();
    if (fd < 0)
        return false;
    sockaddr_in a = loopbackAddress(address, port);
    bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    ::close(fd);
    return ok;
}

std::string commandLineOf(int pid)
{
    // Read with plain read(2): a process that ends while its file is open makes read fail with
    // ESRCH, and a stream buffer would throw from inside an iterator for that.
    std::string text;
    const int fd = ::open(("/proc/" + std::to_string(pid) + "/cmdline").c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return text;
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n > 0)
            text.append(buffer, static_cast<std::size_t>(n));
        else if (n == 0 || errno != EINTR)
            break;
    }
    ::close(fd);
    return text;
}

std::vector<int> processesWithArgument(const std::string& text)
{
    std::vector<int> pids;
    std::error_code ec;
    const int self = static_cast<int>(::getpid());
    for (fs::directory_iterator it("/proc", ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos)
            continue;
        const int pid = std::atoi(name.c_str());
        if (pid == self)
            continue;
        if (commandLineOf(pid).find(text) != std::string::npos)
            pids.push_back(pid);
    }
    return pids;
}

PrivateSambaServer::PrivateSambaServer()
    : PrivateSambaServer(Options{})
{
}

PrivateSambaServer::PrivateSambaServer(Options options)
    : m_options(std::move(options))
{
}

PrivateSambaServer::~PrivateSambaServer()
{
    stop();
}

bool PrivateSambaServer::writeConfig(std::string& error) const
{
    const std::string r = m_root.string();
    std::ostringstream c;
    c << "[global]\n"
      << "  server role = standalone server\n"
      << "  smb ports = " << m_port << "\n"
      << "  interfaces = 127.0.0.1\n"
      << "  bind interfaces only = yes\n"
      << "  disable netbios = yes\n"
      << "  lock directory = " << r << "/lock\n"
      << "  state directory = " << r << "/state\n"
      << "  cache directory = " << r << "/cache\n"
      << "  pid directory = " << r << "/pid\n"
      << "  private dir = " << r << "/private\n"
      << "  ncalrpc dir = " << r << "/ncalrpc\n"
      << "  log file = " << r << "/log/log.%m\n"
      << "  log level = 1\n"
      << "  passdb backend = tdbsam:" << r << "/private/passdb.tdb\n"
      << "  load printers = no\n"
      << "  printing = bsd\n"
      << "  printcap name = /dev/null\n"
      << "  disable spoolss = yes\n"
      << "  map to guest = never\n"
      << "  usershare path =\n";
    for (const auto& line : m_options.globalOptions)
        c << "  " << line << "\n";
    for (const auto& share : m_options.shares)
        c << "\n[" << share << "]\n  path = " << sharePath(share).string()
          << "\n  read only = no\n  browseable = yes\n";
    std::ofstream out(configFile());
    out << c.str();
    out.close();
    if (!out) {
        error = "cannot write " + configFile().string();
        return false;
    }
    return true;
}

bool PrivateSambaServer::start(std::string& error)
{
    if (m_smbd.pid() > 0) {
        error = "already started";
        return false;
    }
    std::error_code ec;
    if (m_root.empty()) {
        // The accounts must be able to walk down to the shares: /tmp is open to all, a TMPDIR
        // under a home folder often is not.
        LockedTempFolder folder = makeLockedTempFolder(m_options.rootPrefix, error);
        if (folder.path.empty())
            return false;
        m_root = folder.path;
        // Only a traceable server keeps its lock: an untraceable one has nothing to undo after
        // a crash, so the next removeAbandoned may as well take its folder.
        if (m_options.traceable)
            m_rootLock = std::move(folder.lock);
        // smbd serves the shares as the accounts' own uids: they must be able to walk down to them.
        fs::permissions(m_root, fs::perms(0755), ec);
        for (const char* d : {"lock", "state", "cache", "pid", "private", "ncalrpc", "log", "shares"})
            fs::create_directories(m_root / d, ec);
        fs::permissions(m_root / "shares", fs::perms(0755), ec);
        for (const auto& share : m_options.shares) {
            fs::create_directories(sharePath(share), ec);
            fs::permissions(sharePath(share), fs::perms(0777), ec);
        }
    }

    const std::string smbd = findProgram(m_options.smbd);
    for (int attempt = 0; attempt < 3; ++attempt) {
        m_port = freeLoopbackPort();
        if (m_port == 0) {
            error = "no free port on 127.0.0.1";
            return false;
        }
        if (!writeConfig(error))
            return false;
        ChildProcess::Options co;
        // smbd signals its whole process group when it ends: it must lead a group of its own.
        co.newSession = true;
        co.outputFile = (m_root / "log" / "smbd.out").string();
        if (!m_smbd.start({smbd, "-s", configFile().string(), "--foreground", "--no-process-group"}, co, error))
            return false;
        const auto deadline = SteadyClock::now() + m_options.startTimeout;
        while (SteadyClock::now() < deadline) {
            if (!m_smbd.running())
                break;
            if (acceptsConnections("127.0.0.1", m_port))
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        const bool died = !m_smbd.running();
        m_smbd.stop();
        stopHelpers();
        if (!died) {
            error = "smbd did not accept connections on port " + std::to_string(m_port)
                    + " in time; its log: " + smbdLogTail();
            return false;
        }
        // Most often the port was taken between choosing and binding it: try another.
        error = "smbd ended at start; its log: " + smbdLogTail();
    }
    return false;
}

std::string PrivateSambaServer::smbdLogTail() const
{
    std::ifstream in(m_root / "log" / "smbd.out");
    std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return all.size() > 2000 ? all.substr(all.size() - 2000) : all;
}

std::string PrivateSambaServer::addUser(const std::string& hint, const std::string& password, std::string& error)
{
    if (m_root.empty()) {
        error = "start the server first";
        return {};
    }
    std::string base;
    for (char c : hint)
        if ((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'))
            base += c;
    base = m_options.accountPrefix + base.substr(0, 8);
    std::string name;
    ProcessResult r;
    // A run that was killed leaves its accounts behind; a later process may get the same pid.
    constexpr int nameInUse = 9;
    for (int attempt = 0; attempt < 20; ++attempt) {
        name = base + "_" + std::to_string(::getpid() % 100000) + "_" + std::to_string(accountCounter++);
        r = runAccountTool({findProgram("useradd"), "-M", "-N", "-s", "/usr/sbin/nologin", name});
        if (!r.exitedWith(nameInUse))
            break;
    }
    if (!r.succeeded()) {
        error = "useradd " + name + ": " + describe(r);
        return {};
    }
    m_users.push_back(name);
    record("user", name);
    r = runAccountTool({findProgram("smbpasswd"), "-c", configFile().string(), "-s", "-a", name},
                       password + "\n" + password + "\n");
    if (!r.succeeded()) {
        error = "smbpasswd -a " + name + ": " + describe(r);
        return {};
    }
    return name;
}

std::string PrivateSambaServer::mappedGroup(const std::string& hint, const std::vector<std::string>& mapping,
                                            std::string& error)
{
    std::string name;
    ProcessResult r;
    constexpr int nameInUse = 9;
    for (int attempt = 0; attempt < 20; ++attempt) {
        name = m_options.accountPrefix + hint + "_" + std::to_string(::getpid() % 100000) + "_"
               + std::to_string(accountCounter++);
        r = runAccountTool({findProgram("groupadd"), name});
        if (!r.exitedWith(nameInUse))
            break;
    }
    if (!r.succeeded()) {
        error = "groupadd " + name + ": " + describe(r);
        return {};
    }
    m_groups.push_back(name);
    record("group", name);
    std::vector<std::string> argv{findProgram("net"), "-s", configFile().string(), "groupmap", "add"};
    argv.insert(argv.end(), mapping.begin(), mapping.end());
    argv.push_back("unixgroup=" + name);
    r = runAccountTool(argv);
    if (!r.succeeded()) {
        error = "net groupmap add: " + describe(r);
        return {};
    }
    return name;
}

bool PrivateSambaServer::makeAdministrator(const std::string& user, bool domainAdmin, std::string& error)
{
    if (m_root.empty()) {
        error = "start the server first";
        return false;
    }
    // The mappings live in this server's own state directory, so they go with its tree.
    if (m_adminGroup.empty()) {
        m_adminGroup = mappedGroup("adm", {"sid=S-1-5-32-544", "type=builtin"}, error);
        if (m_adminGroup.empty())
            return false;
    }
    ProcessResult r = runAccountTool(
        {findProgram("net"), "-s", configFile().string(), "sam", "addmem", "BUILTIN\\Administrators", user});
    if (!r.succeeded()) {
        error = "net sam addmem BUILTIN\\Administrators " + user + ": " + describe(r);
        return false;
    }
    if (!domainAdmin)
        return true;
    if (m_domainAdminGroup.empty()) {
        m_domainAdminGroup = mappedGroup("dadm", {"rid=512", "type=domain", "ntgroup=Domain Admins"}, error);
        if (m_domainAdminGroup.empty())
            return false;
    }
    // A domain group's members are the members of its Linux group.
    r = runAccountTool({findProgram("usermod"), "-a", "-G", m_domainAdminGroup, user});
    if (!r.succeeded()) {
        error = "usermod -a -G " + m_domainAdminGroup + " " + user + ": " + describe(r);
        return false;
    }
    return true;
}

bool PrivateSambaServer::smbdRunning()
{
    return m_smbd.running();
}

void PrivateSambaServer::stopHelpers()
{
    if (m_root.empty())
        return;
    // samba-dcerpcd and its rpcd_* workers belong to init once smbd has gone; they carry the
    // configuration's path on their command lines, which is unique to this server.
    const std::string marker = configFile().string();
    auto pids = processesWithArgument(marker);
    for (int pid : pids)
        ::kill(pid, SIGTERM);
    const auto deadline = SteadyClock::now() + std::chrono::seconds(3);
    while (!pids.empty() && SteadyClock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        pids = processesWithArgument(marker);
    }
    for (int pid : pids)
        ::kill(pid, SIGKILL);
}

void PrivateSambaServer::stopSmbd()
{
    m_smbd.stop();
    stopHelpers();
}

void PrivateSambaServer::stop()
{
    stopSmbd();
    for (const auto& user : m_users)
        runAccountTool({findProgram("userdel"), user});
    m_users.clear();
    for (const auto& group : m_groups)
        runAccountTool({findProgram("groupdel"), group});
    m_groups.clear();
    m_adminGroup.clear();
    m_domainAdminGroup.clear();
    if (!m_root.empty()) {
        std::error_code ec;
        fs::remove_all(m_root, ec);
        m_root.clear();
    }
    m_rootLock.reset();
}

namespace {
constexpr const char* madeFile = "made";
}

void PrivateSambaServer::record(const char* kind, const std::string& name) const
{
    if (!m_options.traceable)
        return;
    // Written before anything can use the account: a kill right after still finds it here.
    std::ofstream out(m_root / madeFile, std::ios::app);
    out << kind << ' ' << name << '\n';
    out.flush();
}

std::vector<fs::path> PrivateSambaServer::removeAbandoned(const std::string& rootPrefix)
{
    return removeAbandonedTempFolders(rootPrefix, [](const fs::path& root) {
        std::vector<std::string> users, groups;
        std::ifstream in(root / madeFile);
        std::string kind, name;
        while (in >> kind >> name) {
            // Names as addUser and mappedGroup make them; anything else was not written by us.
            if (name.empty() || name.size() > 32
                || name.find_first_not_of("abcdefghijklmnopqrstuvwxyz0123456789_") != std::string::npos)
                continue;
            (kind == "user" ? users : groups).push_back(name);
        }
        // Its smbd and helpers name the configuration; its clients log on as its accounts.
        std::vector<std::string> markers{(root / "smb.conf").string()};
        for (const auto& user : users)
            markers.push_back(user + "%");
        for (const auto& marker : markers)
            for (int pid : processesWithArgument(marker))
                ::kill(pid, SIGKILL);
        const auto deadline = SteadyClock::now() + std::chrono::seconds(3);
        for (const auto& marker : markers)
            while (!processesWithArgument(marker).empty() && SteadyClock::now() < deadline)
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
        for (const auto& user : users)
            runAccountTool({findProgram("userdel"), user});
        for (const auto& group : groups)
            runAccountTool({findProgram("groupdel"), group});
    });
}

}  // namespace vantor::samba
