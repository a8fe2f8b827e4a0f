#include "bus/BusRows.h"

#include <cerrno>
#include <cstdlib>
#include <optional>
#include <string>

namespace vantor::bus {

namespace {

template <class Row, class Write>
int writeRows(sd_bus_message* m, const char* signature, const std::vector<Row>& rows, Write write)
{
    int r = sd_bus_message_open_container(m, 'a', signature);
    for (std::size_t i = 0; r >= 0 && i < rows.size(); ++i)
        r = write(m, rows[i]);
    return r < 0 ? r : sd_bus_message_close_container(m);
}

template <class Row, class Read>
int readRows(sd_bus_message* m, const char* signature, std::vector<Row>& rows, Read read)
{
    rows.clear();
    int r = sd_bus_message_enter_container(m, 'a', signature);
    while (r > 0) {
        Row row;
        r = read(m, row);
        if (r > 0)
            rows.push_back(std::move(row));
    }
    return r < 0 ? r : sd_bus_message_exit_container(m);
}

}  // namespace

namespace {

int64_t number(const std::optional<int64_t>& n)
{
    return n ? *n : absentNumber;
}

std::optional<int64_t> number(int64_t n)
{
    return n == absentNumber ? std::nullopt : std::optional<int64_t>(n);
}

// The signature's contents without its parentheses, as sd-bus wants it for a struct.
std::string contents(const char* signature)
{
    const std::string s = signature;
    return s.substr(1, s.size() - 2);
}

const std::string sessionContents = contents(sessionRowSignature);
const std::string fileContents = contents(fileRowSignature);
const std::string sessionDetails = "xxassssxxx";
const std::string fileDetails = "ssbbssxx";

}  // namespace

int writeSessionRow(sd_bus_message* m, const SessionEntry& row)
{
    const SessionDetails& d = row.details;
    std::vector<char*> shares;
    for (const std::string& share : d.shares)
        shares.push_back(const_cast<char*>(share.c_str()));
    shares.push_back(nullptr);
    int r = sd_bus_message_open_container(m, 'r', sessionContents.c_str());
    if (r >= 0)
        r = sd_bus_message_append(m, "ssu", row.user.c_str(), row.computer.c_str(), row.openFiles);
    if (r >= 0)
        r = sd_bus_message_open_container(m, 'r', sessionDetails.c_str());
    if (r >= 0)
        r = sd_bus_message_append(m, "xx", number(d.connectedAt), number(d.idleSeconds));
    if (r >= 0)
        r = sd_bus_message_append_strv(m, shares.data());
    if (r >= 0)
        r = sd_bus_message_append(m, "sssxxx", d.dialect.c_str(), d.encryption.c_str(), d.signing.c_str(),
                                  number(d.processId), number(d.uid),
                                  d.channels ? static_cast<int64_t>(*d.channels) : absentNumber);
    if (r >= 0)
        r = sd_bus_message_close_container(m);
    return r < 0 ? r : sd_bus_message_close_container(m);
}

int readSessionRow(sd_bus_message* m, SessionEntry& row)
{
    int r = sd_bus_message_enter_container(m, 'r', sessionContents.c_str());
    if (r <= 0)
        return r;
    const char* user = nullptr;
    const char* computer = nullptr;
    r = sd_bus_message_read(m, "ssu", &user, &computer, &row.openFiles);
    if (r < 0)
        return r;
    row.user = user;
    row.computer = computer;
    if ((r = sd_bus_message_enter_container(m, 'r', sessionDetails.c_str())) <= 0)
        return r < 0 ? r : -EBADMSG;
    SessionDetails& d = row.details;
    int64_t connectedAt = 0, idle = 0, pid = 0, uid = 0, channels = 0;
    if ((r = sd_bus_message_read(m, "xx", &connectedAt, &idle)) < 0)
        return r;
    char** shares = nullptr;
    if ((r = sd_bus_message_read_strv(m, &shares)) < 0)
        return r;
    d.shares.clear();
    for (char** s = shares; s && *s; ++s) {
        d.shares.emplace_back(*s);
        std::free(*s);
    }
    std::free(shares);
    const char* dialect = nullptr;
    const char* encryption = nullptr;
    const char* signing = nullptr;
    if ((r = sd_bus_message_read(m, "sssxxx", &dialect, &encryption, &signing, &pid, &uid, &channels)) < 0)
        return r;
    d.connectedAt = number(connectedAt);
    d.idleSeconds = number(idle);
    d.dialect = dialect;
    d.encryption = encryption;
    d.signing = signing;
    d.processId = number(pid);
    d.uid = number(uid);
    // A count beyond 32 bits is no channel count a server sends: absent rather than cut.
    d.channels = channels >= 0 && channels <= UINT32_MAX ? std::optional<uint32_t>(static_cast<uint32_t>(channels))
                                                         : std::nullopt;
    if ((r = sd_bus_message_exit_container(m)) < 0)
        return r;
    r = sd_bus_message_exit_container(m);
    return r < 0 ? r : 1;
}

int writeFileRow(sd_bus_message* m, const OpenFileRow& row)
{
    const FileDetails& d = row.details;
    const std::optional<int64_t> locks = d.locks ? std::optional<int64_t>(*d.locks) : std::nullopt;
    int r = sd_bus_message_open_container(m, 'r', fileContents.c_str());
    if (r >= 0)
        r = sd_bus_message_append(m, "suui", row.path.c_str(), row.id,
                                  static_cast<uint32_t>(row.icon == FileIconKind::Folder ? 0 : 1),
                                  static_cast<int32_t>(row.imageIndex));
    if (r >= 0)
        r = sd_bus_message_append(m, ("(" + fileDetails + ")").c_str(), d.share.c_str(), d.relativePath.c_str(),
                                  static_cast<int>(d.read), static_cast<int>(d.write), d.denyMode.c_str(),
                                  d.oplock.c_str(), number(locks), number(d.openedAt));
    return r < 0 ? r : sd_bus_message_close_container(m);
}

int readFileRow(sd_bus_message* m, OpenFileRow& row)
{
    int r = sd_bus_message_enter_container(m, 'r', fileContents.c_str());
    if (r <= 0)
        return r;
    const char* path = nullptr;
    uint32_t icon = 0;
    int32_t imageIndex = 0;
    const char* share = nullptr;
    const char* relative = nullptr;
    int read = 0, write = 0;
    const char* deny = nullptr;
    const char* oplock = nullptr;
    int64_t locks = 0, openedAt = 0;
    if ((r = sd_bus_message_read(m, "suui", &path, &row.id, &icon, &imageIndex)) < 0)
        return r;
    if ((r = sd_bus_message_read(m, ("(" + fileDetails + ")").c_str(), &share, &relative, &read, &write, &deny, &oplock,
                                 &locks, &openedAt))
        < 0)
        return r;
    row.path = path;
    row.icon = icon == 0 ? FileIconKind::Folder : FileIconKind::FileType;
    row.imageIndex = imageIndex;
    FileDetails& d = row.details;
    d.share = share;
    d.relativePath = relative;
    d.read = read != 0;
    d.write = write != 0;
    d.denyMode = deny;
    d.oplock = oplock;
    d.locks = locks == absentNumber || locks < 0 || locks > UINT32_MAX
                  ? std::nullopt
                  : std::optional<uint32_t>(static_cast<uint32_t>(locks));
    d.openedAt = number(openedAt);
    r = sd_bus_message_exit_container(m);
    return r < 0 ? r : 1;
}

namespace {

const std::string listedContents = contents(listedFileRowSignature);

int writeFileDetails(sd_bus_message* m, const FileDetails& d)
{
    const std::optional<int64_t> locks = d.locks ? std::optional<int64_t>(*d.locks) : std::nullopt;
    return sd_bus_message_append(m, ("(" + fileDetails + ")").c_str(), d.share.c_str(), d.relativePath.c_str(),
                                 static_cast<int>(d.read), static_cast<int>(d.write), d.denyMode.c_str(),
                                 d.oplock.c_str(), number(locks), number(d.openedAt));
}

int readFileDetails(sd_bus_message* m, FileDetails& d)
{
    const char* share = nullptr;
    const char* relative = nullptr;
    int read = 0, write = 0;
    const char* deny = nullptr;
    const char* oplock = nullptr;
    int64_t locks = 0, openedAt = 0;
    const int r = sd_bus_message_read(m, ("(" + fileDetails + ")").c_str(), &share, &relative, &read, &write, &deny,
                                      &oplock, &locks, &openedAt);
    if (r < 0)
        return r;
    d.share = share;
    d.relativePath = relative;
    d.read = read != 0;
    d.write = write != 0;
    d.denyMode = deny;
    d.oplock = oplock;
    d.locks = locks == absentNumber || locks < 0 || locks > UINT32_MAX
                  ? std::nullopt
                  : std::optional<uint32_t>(static_cast<uint32_t>(locks));
    d.openedAt = number(openedAt);
    return r;
}

}  // namespace

int writeListedFile(sd_bus_message* m, const NetFileInfo& file)
{
    int r = sd_bus_message_open_container(m, 'r', listedContents.c_str());
    if (r >= 0)
        r = sd_bus_message_append(m, "usss", file.id, file.path.c_str(), file.computer.c_str(), file.user.c_str());
    if (r >= 0)
        r = writeFileDetails(m, file.details);
    return r < 0 ? r : sd_bus_message_close_container(m);
}

int readListedFile(sd_bus_message* m, NetFileInfo& file)
{
    int r = sd_bus_message_enter_container(m, 'r', listedContents.c_str());
    if (r <= 0)
        return r;
    const char* path = nullptr;
    const char* computer = nullptr;
    const char* user = nullptr;
    if ((r = sd_bus_message_read(m, "usss", &file.id, &path, &computer, &user)) < 0)
        return r;
    file.path = path;
    file.computer = computer;
    file.user = user;
    if ((r = readFileDetails(m, file.details)) < 0)
        return r;
    r = sd_bus_message_exit_container(m);
    return r < 0 ? r : 1;
}

int writeListedFiles(sd_bus_message* m, const std::vector<NetFileInfo>& files)
{
    return writeRows(m, listedFileRowSignature, files, writeListedFile);
}

int readListedFiles(sd_bus_message* m, std::vector<NetFileInfo>& files)
{
    return readRows(m, listedFileRowSignature, files, readListedFile);
}

int writeShare(sd_bus_message* m, const NetShareInfo& share)
{
    return sd_bus_message_append(m, shareRowSignature, share.name.c_str(), share.path.c_str());
}

int readShare(sd_bus_message* m, NetShareInfo& share)
{
    const char* name = nullptr;
    const char* path = nullptr;
    const int r = sd_bus_message_read(m, shareRowSignature, &name, &path);
    if (r > 0) {
        share.name = name;
        share.path = path;
    }
    return r;
}

int writeShares(sd_bus_message* m, const std::vector<NetShareInfo>& shares)
{
    return writeRows(m, shareRowSignature, shares, writeShare);
}

int readShares(sd_bus_message* m, std::vector<NetShareInfo>& shares)
{
    return readRows(m, shareRowSignature, shares, readShare);
}

namespace {

int writeOptionValue(sd_bus_message* m, const std::pair<std::string, std::string>& value)
{
    return sd_bus_message_append(m, "{ss}", value.first.c_str(), value.second.c_str());
}

int readOptionValue(sd_bus_message* m, std::pair<std::string, std::string>& value)
{
    const char* key = nullptr;
    const char* text = nullptr;
    const int r = sd_bus_message_read(m, "{ss}", &key, &text);
    if (r > 0)
        value = {key, text};
    return r;
}

}  // namespace

int writeOptionValues(sd_bus_message* m, const OptionValues& values)
{
    return writeRows(m, "{ss}", values, writeOptionValue);
}

int readOptionValues(sd_bus_message* m, OptionValues& values)
{
    return readRows(m, "{ss}", values, readOptionValue);
}

int writeSessionRows(sd_bus_message* m, const std::vector<SessionEntry>& rows)
{
    return writeRows(m, sessionRowSignature, rows, writeSessionRow);
}

int readSessionRows(sd_bus_message* m, std::vector<SessionEntry>& rows)
{
    return readRows(m, sessionRowSignature, rows, readSessionRow);
}

int writeFileRows(sd_bus_message* m, const std::vector<OpenFileRow>& rows)
{
    return writeRows(m, fileRowSignature, rows, writeFileRow);
}

int readFileRows(sd_bus_message* m, std::vector<OpenFileRow>& rows)
{
    return readRows(m, fileRowSignature, rows, readFileRow);
}

}  // namespace vantor::bus
