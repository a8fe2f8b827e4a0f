#include "demo/SmbClientHolder.h"

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>
#include <unistd.h>

namespace vantor::samba {

namespace {

using SteadyClock = std::chrono::steady_clock;

std::string readFrom(const std::filesystem::path& file, std::size_t offset)
{
    std::ifstream in(file, std::ios::binary);
    in.seekg(static_cast<std::streamoff>(offset));
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::size_t sizeOf(const std::filesystem::path& file)
{
    std::error_code ec;
    auto n = std::filesystem::file_size(file, ec);
    return ec ? 0 : static_cast<std::size_t>(n);
}

}  // namespace

SmbClientHolder::SmbClientHolder(Options options)
    : m_options(std::move(options))
{
    if (m_options.logFile.empty()) {
        std::string tmpl = (std::filesystem::temp_directory_path() / "vantor-smbclient-XXXXXX").string();
        int fd = ::mkstemp(tmpl.data());
        if (fd >= 0) {
            ::close(fd);
            m_options.logFile = tmpl;
            m_ownLog = true;
        }
    }
}

SmbClientHolder::~SmbClientHolder()
{
    disconnect();
    if (m_ownLog) {
        std::error_code ec;
        std::filesystem::remove(m_options.logFile, ec);
    }
}

bool SmbClientHolder::connect(std::string& error, std::chrono::milliseconds timeout)
{
    if (m_client.pid() > 0) {
        error = "already connected";
        return false;
    }
    const std::size_t start = sizeOf(m_options.logFile);
    ChildProcess::Options co;
    co.inputPipe = true;
    co.outputFile = m_options.logFile.string();
    // smbclient buffers its answers when they go to a file; stdbuf makes it write each line at
    // once, which is how the holder learns that it has logged on and what became of each command.
    std::vector<std::string> argv{findProgram("stdbuf"),
                                  "-oL",
                                  "-eL",
                                  findProgram(m_options.smbclient),
                                  "//" + m_options.host + "/" + m_options.share,
                                  "-p",
                                  std::to_string(m_options.port),
                                  "-U",
                                  m_options.user + "%" + m_options.password};
    if (!m_options.protocol.empty()) {
        argv.insert(argv.end(), {"-m", m_options.protocol, "--option=client min protocol=" + m_options.protocol});
    }
    if (!m_client.start(argv, co, error))
        return false;
    const auto deadline = SteadyClock::now() + timeout;
    while (SteadyClock::now() < deadline) {
        const std::string said = readFrom(m_options.logFile, start);
        if (said.find("Try \"help\"") != std::string::npos)
            return true;
        if (!m_client.running()) {
            error = "smbclient ended: " + said;
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    error = "smbclient did not log on in time: " + readFrom(m_options.logFile, start);
    m_client.stop();
    return false;
}

bool SmbClientHolder::send(const std::string& command)
{
    return m_client.pid() > 0 && m_client.writeInput(command + "\n");
}

std::string SmbClientHolder::ask(const std::string& command, const std::vector<std::string>& answers)
{
    const std::size_t before = sizeOf(m_options.logFile);
    if (!send(command))
        return {};
    // Wait for smbclient's answer before the next command: commands that arrive while it is busy
    // are lost.
    const auto deadline = SteadyClock::now() + std::chrono::seconds(5);
    while (SteadyClock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        const std::string said = readFrom(m_options.logFile, before);
        if (said.find('\n') != std::string::npos) {
            for (const auto& a : answers)
                if (said.find(a) != std::string::npos)
                    return said;
        }
        if (!m_client.running())
            return said;
    }
    std::this_thread::sleep_for(m_options.commandPause);
    return readFrom(m_options.logFile, before);
}

bool SmbClientHolder::open(const std::string& path)
{
    // With the unix extensions on, names are separated by '/', and a '\\' is part of a name.
    std::string smbPath = path;
    for (char& c : smbPath)
        if (c == '/' && !m_posix)
            c = '\\';
    // Success reads "open file \\name: for read/write fnum N"; a failure "Failed to open file
    // \\name. NT_STATUS_...".
    const std::string said = ask("open \"" + smbPath + "\"", {"NT_STATUS", "Failed", "fnum"});
    if (said.find("NT_STATUS") != std::string::npos || said.find("Failed") != std::string::npos)
        return false;
    const std::size_t at = said.find("fnum ");
    if (at == std::string::npos)
        return false;
    m_handles.emplace_back(path, std::atoi(said.c_str() + at + 5));
    return true;
}

bool SmbClientHolder::connectShare(const std::string& share)
{
    // smbclient says "tcon to NAME successful, tid: N" or "tcon to NAME failed: NT_STATUS_...".
    const std::string said = ask("tcon \"" + share + "\"", {"successful", "failed", "NT_STATUS"});
    return said.find("successful") != std::string::npos;
}

bool SmbClientHolder::posix()
{
    const std::string said = ask("posix", {"capabilities", "NT_STATUS", "not supported"});
    m_posix = m_posix || said.find("capabilities") != std::string::npos;
    return m_posix;
}

bool SmbClientHolder::lock(const std::string& path, bool write, uint64_t start, uint64_t length)
{
    for (auto it = m_handles.rbegin(); it != m_handles.rend(); ++it) {
        if (it->first != path)
            continue;
        // smbclient takes the range in hex and says nothing when the lock is granted, "lock
        // failed ..." when not: a pwd after it shows that it has been done.
        std::ostringstream command;
        command << "lock " << it->second << (write ? " w " : " r ") << std::hex << start << " " << length;
        const std::size_t before = sizeOf(m_options.logFile);
        if (!send(command.str()))
            return false;
        std::this_thread::sleep_for(m_options.commandPause);
        ask("pwd", {"Current directory"});
        const std::string said = readFrom(m_options.logFile, before);
        return said.find("failed") == std::string::npos && said.find("NT_STATUS") == std::string::npos
               && said.find("Current directory") != std::string::npos;
    }
    return false;
}

bool SmbClientHolder::close(const std::string& path)
{
    for (auto it = m_handles.rbegin(); it != m_handles.rend(); ++it) {
        if (it->first != path)
            continue;
        const int fnum = it->second;
        m_handles.erase(std::next(it).base());
        // smbclient says nothing when a close works: a pwd after it shows that it has been done.
        const std::size_t before = sizeOf(m_options.logFile);
        if (!send("close " + std::to_string(fnum)))
            return false;
        std::this_thread::sleep_for(m_options.commandPause);
        ask("pwd", {"Current directory"});
        const std::string said = readFrom(m_options.logFile, before);
        return said.find("NT_STATUS") == std::string::npos && said.find("Current directory") != std::string::npos;
    }
    return false;
}

void SmbClientHolder::disconnect()
{
    m_handles.clear();
    if (m_client.pid() <= 0)
        return;
    send("exit");
    m_client.closeInput();
    m_client.stop(std::chrono::milliseconds(2000));
}

bool SmbClientHolder::connected()
{
    return m_client.running();
}

}  // namespace vantor::samba
