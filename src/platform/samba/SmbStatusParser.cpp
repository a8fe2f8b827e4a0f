#include "platform/samba/SmbStatusParser.h"

#include "platform/NetManagement.h"
#include "platform/samba/JsonSax.h"

#include <algorithm>
#include <charconv>
#include <limits>
#include <nlohmann/json.hpp>
#include <map>
#include <unordered_map>

namespace vantor::samba {

namespace {

using Json = nlohmann::json;

// One scalar value of the document, as the SAX parser hands it over.
struct Scalar {
    enum class Kind { Text, Signed, Unsigned, Float, Bool, Null } kind = Kind::Null;
    std::string text;
    int64_t i = 0;
    uint64_t u = 0;
};

// Samba writes ids as decimal texts ("7479"); a number is taken as well. Empty: `error` is set.
std::optional<uint64_t> unsignedValue(const Scalar& v, uint64_t max, const std::string& what, std::string& error)
{
    uint64_t n = 0;
    switch (v.kind) {
    case Scalar::Kind::Unsigned:
        n = v.u;
        break;
    case Scalar::Kind::Signed:
        if (v.i < 0) {
            error = what + " is out of range";
            return std::nullopt;
        }
        n = static_cast<uint64_t>(v.i);
        break;
    case Scalar::Kind::Text: {
        auto [end, ec] = std::from_chars(v.text.data(), v.text.data() + v.text.size(), n);
        if (v.text.empty() || end != v.text.data() + v.text.size()) {
            error = what + " is not a number";
            return std::nullopt;
        }
        if (ec != std::errc()) {
            error = what + " is out of range";
            return std::nullopt;
        }
        break;
    }
    default:
        error = what + " is neither a number nor a text";
        return std::nullopt;
    }
    if (n > max) {
        error = what + " is out of range";
        return std::nullopt;
    }
    return n;
}

// Reads the document as a stream of events, in its order, keeping only what the monitor uses.
// No tree of the whole document is built: a large server's 750 KB document is read in a few
// milliseconds, and the order of its objects is the order of the events.
class SmbStatusReader final : public nlohmann::json_sax<Json> {
public:
    SmbStatusData data;
    std::string error;
    // The document had bytes that are not UTF-8, each replaced by U+FFFD: a name holding one is
    // not the name Samba has.
    bool repaired = false;
    bool needSessions = true;

    bool finish()
    {
        if (error.empty() && !m_sawSessions && needSessions)
            error = "the document has no \"sessions\"";
        return error.empty();
    }

    bool null() override { return scalar(Scalar{}); }
    bool boolean(bool v) override { return scalar(Scalar{Scalar::Kind::Bool, {}, v ? 1 : 0, 0}); }
    bool number_integer(number_integer_t v) override { return scalar(Scalar{Scalar::Kind::Signed, {}, v, 0}); }
    bool number_unsigned(number_unsigned_t v) override { return scalar(Scalar{Scalar::Kind::Unsigned, {}, 0, v}); }
    bool number_float(number_float_t, const string_t&) override
    {
        return scalar(Scalar{Scalar::Kind::Float, {}, 0, 0});
    }
    bool string(string_t& v) override
    {
        if (m_ignoreDepth > 0)
            return true;
        Scalar s{Scalar::Kind::Text, {}, 0, 0};
        s.text = std::move(v);
        return scalar(s);
    }
    bool binary(binary_t&) override { return fail("the document holds binary data"); }

    bool start_object(std::size_t) override { return startContainer(true); }
    bool start_array(std::size_t) override { return startContainer(false); }
    bool end_object() override { return endContainer(); }
    bool end_array() override { return endContainer(); }

    bool key(string_t& k) override
    {
        if (m_ignoreDepth == 0)
            m_key = std::move(k);
        return true;
    }

    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception& e) override
    {
        if (error.empty())
            error = std::string("not valid JSON (") + e.what() + ")";
        return false;
    }

private:
    enum class Role {
        Root,
        Sessions,
        Session,
        SessionServerId,
        SessionCrypto,
        SessionChannels,
        Tcons,
        Tcon,
        TconServerId,
        Files,
        File,
        Opens,
        Open,
        OpenServerId,
        OpenShareMode,
        OpenAccess,
        OpenOplock,
        OpenLease
    };

    // A fault inside one session, open file or open leaves that record out, and the reading goes
    // on after it; anywhere else it ends the document. `opening`: the fault is the container that
    // starts now, which is not on the stack yet.
    bool fail(std::string text, bool opening = false)
    {
        for (std::size_t i = m_roles.size(); i-- > 0;) {
            const Role r = m_roles[i];
            const bool entry = i + 1 == m_roles.size() && (r == Role::Sessions || r == Role::Files || r == Role::Opens);
            if (entry || r == Role::Session || r == Role::File || r == Role::Open) {
                const Role record = entry ? (r == Role::Sessions ? Role::Session
                                             : r == Role::Files  ? Role::File
                                                                 : Role::Open)
                                          : r;
                const std::size_t popped = entry ? 0 : m_roles.size() - i;
                if (!entry)
                    m_roles.resize(i);
                m_ignoreDepth = static_cast<int>(popped) + (opening ? 1 : 0);
                if (record == Role::File)
                    data.opens.resize(std::min(data.opens.size(), m_fileFirstOpen));
                const std::string name = record == Role::Session ? sessionName()
                                         : record == Role::File  ? fileName()
                                                                 : openName();
                const char* kind = record == Role::Session ? "a session"
                                   : record == Role::File  ? "an open file"
                                                           : "an open";
                std::string cause = text;
                if (auto at = cause.find(name); at != std::string::npos)
                    cause.replace(at, name.size(), kind);
                data.skipped.push_back({std::move(cause), std::move(text)});
                return true;
            }
        }
        if (error.empty())
            error = std::move(text);
        return false;
    }

    bool broken(const std::string& text) const { return repaired && text.find("\xEF\xBF\xBD") != std::string::npos; }

    std::string sessionName() const { return "session " + cutUtf8(m_sessionKey, 40); }
    std::string fileName() const { return "open file " + cutUtf8(m_path, 80); }
    std::string openName() const { return "open " + cutUtf8(m_openKey, 40) + " of " + cutUtf8(m_path, 80); }

    // What a container that starts now is; one the monitor does not read is skipped whole.
    bool startContainer(bool isObject)
    {
        if (m_ignoreDepth > 0) {
            ++m_ignoreDepth;
            return true;
        }
        if (m_roles.empty()) {
            if (!isObject)
                return fail("the document is not a JSON object");
            m_roles.push_back(Role::Root);
            return true;
        }
        std::optional<Role> role;
        std::string where;
        switch (m_roles.back()) {
        case Role::Root:
            if (m_key == "sessions") {
                role = Role::Sessions;
                where = "\"sessions\" of the document";
                m_sawSessions = true;
            } else if (m_key == "open_files") {
                role = Role::Files;
                where = "\"open_files\" of the document";
            } else if (m_key == "tcons" && isObject) {
                role = Role::Tcons;
            }
            break;
        case Role::Sessions:
            m_sessionKey = m_key;
            role = Role::Session;
            where = sessionName();
            break;
        case Role::Session:
            if (m_key == "server_id") {
                role = Role::SessionServerId;
                where = "\"server_id\" of " + sessionName();
                m_hasServerId = true;
            } else if (m_key == "username" || m_key == "remote_machine") {
                return fail("\"" + m_key + "\" of " + sessionName() + " is not a text", true);
            } else if (m_key == "uid") {
                return fail("the uid of " + sessionName() + " is neither a number nor a text", true);
            } else if (m_key == "channels" && isObject) {
                role = Role::SessionChannels;
                m_session.channels = 0;
            } else if ((m_key == "encryption" || m_key == "signing") && isObject) {
                role = Role::SessionCrypto;
                m_cryptoKey = m_key;
                m_cipher.clear();
                m_degree.clear();
            }
            break;
        case Role::SessionServerId:
            if (m_key == "pid")
                return fail("the pid of " + sessionName() + " is neither a number nor a text", true);
            break;
        case Role::SessionChannels:
            // Only their number is shown.
            if (isObject && m_session.channels)
                ++*m_session.channels;
            break;
        case Role::Tcons:
            if (isObject) {
                role = Role::Tcon;
                m_tcon = {};
                m_tconHasPid = false;
            }
            break;
        case Role::Tcon:
            if (m_key == "server_id" && isObject)
                role = Role::TconServerId;
            break;
        case Role::Files:
            m_path = m_key;
            role = Role::File;
            where = fileName();
            m_fileFirstOpen = data.opens.size();
            m_servicePath.clear();
            m_filename.clear();
            break;
        case Role::File:
            if (m_key == "opens") {
                role = Role::Opens;
                where = "\"opens\" of " + fileName();
            }
            break;
        case Role::Opens:
            m_openKey = m_key;
            role = Role::Open;
            where = openName();
            break;
        case Role::Open:
            if (m_key == "server_id") {
                role = Role::OpenServerId;
                where = "\"server_id\" of " + openName();
                m_hasServerId = true;
            } else if (m_key == "share_file_id" || m_key == "uid") {
                return fail("the " + m_key + " of " + openName() + " is neither a number nor a text", true);
            } else if (isObject) {
                // How it is held is told, not needed: a document without it is read all the same.
                if (m_key == "sharemode") {
                    role = Role::OpenShareMode;
                    m_open.hasShareMode = true;
                } else if (m_key == "access_mask") {
                    role = Role::OpenAccess;
                } else if (m_key == "oplock") {
                    role = Role::OpenOplock;
                } else if (m_key == "lease") {
                    role = Role::OpenLease;
                }
            }
            break;
        case Role::OpenServerId:
            if (m_key == "pid")
                return fail("the pid of " + openName() + " is neither a number nor a text", true);
            break;
        default:
            break;
        }
        if (!role) {
            m_ignoreDepth = 1;
            return true;
        }
        if (!isObject)
            return fail(where + " is not an object", true);
        if (*role == Role::File && (broken(m_path)))
            return fail(fileName() + ": its path is not valid UTF-8", true);
        if (*role == Role::Session) {
            m_session = {};
            m_hasUser = m_hasMachine = m_hasServerId = m_hasPid = false;
        } else if (*role == Role::Open) {
            m_open = {};
            m_open.path = cutUtf8(m_path);
            m_hasServerId = m_hasPid = m_hasShareFileId = false;
        }
        m_roles.push_back(*role);
        return true;
    }

    bool endContainer()
    {
        if (m_ignoreDepth > 0) {
            --m_ignoreDepth;
            return true;
        }
        const Role role = m_roles.back();
        m_roles.pop_back();
        if (role == Role::Session) {
            for (auto [has, name] :
                 {std::pair{m_hasUser, "username"}, {m_hasMachine, "remote_machine"}, {m_hasServerId, "server_id"}})
                if (!has)
                    return fail(sessionName() + " has no \"" + name + "\"");
            if (!m_hasPid)
                return fail(sessionName() + "'s server_id has no \"pid\"");
            data.sessions.push_back(std::move(m_session));
        } else if (role == Role::SessionCrypto) {
            // The degree says whether the cipher is used at all ("none", "partial", "full").
            std::string text = m_degree;
            // An anonymous logon has no key to sign or seal with, whatever cipher is named.
            if (!m_degree.empty() && m_degree != "none" && m_degree != "anonymous" && !m_cipher.empty()
                && m_cipher != "-")
                text = m_cipher + " (" + m_degree + ")";
            (m_cryptoKey == "encryption" ? m_session.encryption : m_session.signing) = cutUtf8(text, 80);
        } else if (role == Role::Tcon) {
            if (m_tconHasPid && !m_tcon.share.empty())
                data.tcons.push_back(std::move(m_tcon));
        } else if (role == Role::File) {
            for (std::size_t k = m_fileFirstOpen; k < data.opens.size(); ++k) {
                data.opens[k].servicePath = m_servicePath;
                data.opens[k].filename = m_filename;
            }
        } else if (role == Role::Open) {
            if (!m_hasServerId)
                return fail(openName() + " has no \"server_id\"");
            if (!m_hasPid)
                return fail(openName() + "'s server_id has no \"pid\"");
            if (!m_hasShareFileId)
                return fail(openName() + " has no \"share_file_id\"");
            data.opens.push_back(std::move(m_open));
        }
        return true;
    }

    bool pidValue(const Scalar& v, const std::string& where, int32_t& into)
    {
        std::string fault;
        auto pid =
            unsignedValue(v, static_cast<uint64_t>(std::numeric_limits<int32_t>::max()), "the pid of " + where, fault);
        if (!pid)
            return fail(fault);
        if (*pid == 0)
            return fail("the pid of " + where + " is 0");
        into = static_cast<int32_t>(*pid);
        m_hasPid = true;
        return true;
    }

    bool uidValue(const Scalar& v, const std::string& where, std::optional<int64_t>& into)
    {
        if (v.kind == Scalar::Kind::Null)
            return true;
        if (v.kind == Scalar::Kind::Signed) {
            into = v.i;
            return true;
        }
        std::string fault;
        auto uid = unsignedValue(v, std::numeric_limits<uint32_t>::max(), "the uid of " + where, fault);
        if (!uid)
            return fail(fault);
        into = static_cast<int64_t>(*uid);
        return true;
    }

    bool scalar(const Scalar& v)
    {
        if (m_ignoreDepth > 0)
            return true;
        if (m_roles.empty())
            return fail("the document is not a JSON object");
        switch (m_roles.back()) {
        case Role::Root:
            if (m_key == "sessions")
                return fail("\"sessions\" of the document is not an object");
            if (m_key == "open_files" && v.kind != Scalar::Kind::Null)
                return fail("\"open_files\" of the document is not an object");
            return true;
        case Role::Sessions:
            m_sessionKey = m_key;
            return fail(sessionName() + " is not an object");
        case Role::Session:
            if (m_key == "username" || m_key == "remote_machine") {
                if (v.kind != Scalar::Kind::Text)
                    return fail("\"" + m_key + "\" of " + sessionName() + " is not a text");
                if (broken(v.text))
                    return fail("\"" + m_key + "\" of " + sessionName() + " is not valid UTF-8");
                (m_key == "username" ? m_session.user : m_session.remoteMachine) = cutUtf8(v.text);
                (m_key == "username" ? m_hasUser : m_hasMachine) = true;
            } else if (m_key == "uid") {
                return uidValue(v, sessionName(), m_session.uid);
            } else if (m_key == "server_id") {
                return fail("\"server_id\" of " + sessionName() + " is not an object");
            } else if (v.kind == Scalar::Kind::Text && m_key == "session_id") {
                m_session.sessionId = cutUtf8(v.text, 40);
            } else if (v.kind == Scalar::Kind::Text && m_key == "session_dialect") {
                m_session.dialect = cutUtf8(v.text, 40);
            } else if (v.kind == Scalar::Kind::Text && m_key == "creation_time") {
                m_session.createdAt = roundedSambaTime(v.text);
            }
            return true;
        case Role::SessionServerId:
            return m_key == "pid" ? pidValue(v, sessionName(), m_session.pid) : true;
        case Role::SessionCrypto:
            if (v.kind == Scalar::Kind::Text && (m_key == "cipher" || m_key == "degree"))
                (m_key == "cipher" ? m_cipher : m_degree) = cutUtf8(v.text, 40);
            return true;
        case Role::SessionChannels:
        case Role::Tcons:
            return true;
        case Role::Tcon:
            if (v.kind != Scalar::Kind::Text)
                return true;
            if (m_key == "service")
                m_tcon.share = cutUtf8(v.text);
            else if (m_key == "session_id")
                m_tcon.sessionId = cutUtf8(v.text, 40);
            else if (m_key == "connected_at") {
                m_tcon.connectedAt = roundedSambaTime(v.text);
                m_tcon.connectedAtMicros = parseSambaTimeMicros(v.text).value_or(0);
            }
            return true;
        case Role::TconServerId:
            if (m_key == "pid") {
                std::string ignored;
                if (auto pid =
                        unsignedValue(v, static_cast<uint64_t>(std::numeric_limits<int32_t>::max()), "", ignored)) {
                    m_tcon.pid = static_cast<int32_t>(*pid);
                    m_tconHasPid = *pid != 0;
                }
            }
            return true;
        case Role::Files:
            m_path = m_key;
            return fail(fileName() + " is not an object");
        case Role::File:
            if (m_key == "opens" && v.kind != Scalar::Kind::Null)
                return fail("\"opens\" of " + fileName() + " is not an object");
            if (v.kind == Scalar::Kind::Text && (m_key == "service_path" || m_key == "filename")) {
                if (broken(v.text))
                    return fail("\"" + m_key + "\" of " + fileName() + " is not valid UTF-8");
                (m_key == "service_path" ? m_servicePath : m_filename) = cutUtf8(v.text);
            }
            return true;
        case Role::Opens:
            m_openKey = m_key;
            return fail(openName() + " is not an object");
        case Role::Open:
            if (m_key == "share_file_id") {
                std::string fault;
                auto id =
                    unsignedValue(v, std::numeric_limits<uint32_t>::max(), "the share_file_id of " + openName(), fault);
                if (!id)
                    return fail(fault);
                m_open.shareFileId = static_cast<uint32_t>(*id);
                m_hasShareFileId = true;
            } else if (m_key == "uid") {
                return uidValue(v, openName(), m_open.uid);
            } else if (m_key == "server_id") {
                return fail("\"server_id\" of " + openName() + " is not an object");
            } else if (m_key == "opened_at" && v.kind == Scalar::Kind::Text) {
                m_open.openedAt = parseSambaTime(v.text);
            }
            return true;
        case Role::OpenServerId:
            return m_key == "pid" ? pidValue(v, openName(), m_open.pid) : true;
        case Role::OpenShareMode:
            if (v.kind == Scalar::Kind::Bool && (m_key == "READ" || m_key == "WRITE"))
                (m_key == "READ" ? m_open.shareRead : m_open.shareWrite) = v.i != 0;
            return true;
        case Role::OpenAccess:
            if (v.kind == Scalar::Kind::Bool && v.i != 0) {
                if (m_key == "READ_DATA")
                    m_open.read = true;
                else if (m_key == "WRITE_DATA" || m_key == "APPEND_DATA")
                    m_open.write = true;
            }
            return true;
        case Role::OpenOplock:
        case Role::OpenLease:
            if (v.kind == Scalar::Kind::Text && m_key == "text")
                (m_roles.back() == Role::OpenOplock ? m_open.oplock : m_open.lease) = cutUtf8(v.text, 40);
            return true;
        }
        return true;
    }

    std::vector<Role> m_roles;
    int m_ignoreDepth = 0;
    std::string m_key;
    bool m_sawSessions = false;

    std::string m_sessionKey;
    SmbSession m_session;
    bool m_hasUser = false, m_hasMachine = false, m_hasServerId = false, m_hasPid = false;

    std::string m_cryptoKey, m_cipher, m_degree;

    SmbTcon m_tcon;
    bool m_tconHasPid = false;

    std::string m_path;
    std::string m_openKey;
    SmbOpen m_open;
    bool m_hasShareFileId = false;
    std::size_t m_fileFirstOpen = 0;
    std::string m_servicePath, m_filename;
};

// The text with every byte that starts no valid UTF-8 sequence (RFC 3629: no overlong forms, no
// surrogates) replaced by U+FFFD; none when it is valid already.
std::optional<std::string> repairedUtf8(std::string_view s)
{
    std::string out;
    bool changed = false;
    std::size_t copied = 0;
    for (std::size_t i = 0; i < s.size();) {
        const auto c = static_cast<unsigned char>(s[i]);
        const std::size_t n = c < 0x80                   ? 1
                              : (c >= 0xC2 && c <= 0xDF) ? 2
                              : (c >= 0xE0 && c <= 0xEF) ? 3
                              : (c >= 0xF0 && c <= 0xF4) ? 4
                                                         : 0;
        bool ok = n > 0 && i + n <= s.size();
        if (ok && n > 1) {
            unsigned lo = 0x80, hi = 0xBF;
            if (c == 0xE0)
                lo = 0xA0;
            else if (c == 0xED)
                hi = 0x9F;
            else if (c == 0xF0)
                lo = 0x90;
            else if (c == 0xF4)
                hi = 0x8F;
            const auto c1 = static_cast<unsigned char>(s[i + 1]);
            ok = c1 >= lo && c1 <= hi;
            for (std::size_t k = 2; ok && k < n; ++k)
                ok = (static_cast<unsigned char>(s[i + k]) & 0xC0) == 0x80;
        }
        if (ok) {
            i += n;
            continue;
        }
        out.append(s.substr(copied, i - copied));
        out += "\xEF\xBF\xBD";
        changed = true;
        copied = ++i;
    }
    if (!changed)
        return std::nullopt;
    out.append(s.substr(copied));
    return out;
}

}  // namespace

std::optional<int64_t> roundedSambaTime(std::string_view text)
{
    auto micros = parseSambaTimeMicros(text);
    if (!micros)
        return std::nullopt;
    const int64_t m = *micros + 500'000;
    return m >= 0 ? m / 1'000'000 : -((-m + 999'999) / 1'000'000);
}

std::optional<int64_t> parseSambaTime(std::string_view text)
{
    auto micros = parseSambaTimeMicros(text);
    if (!micros)
        return std::nullopt;
    return *micros >= 0 ? *micros / 1'000'000 : -((-*micros + 999'999) / 1'000'000);
}

std::optional<int64_t> parseSambaTimeMicros(std::string_view t)
{
    auto digits = [&](std::size_t at, std::size_t n) -> std::optional<int> {
        if (at + n > t.size())
            return std::nullopt;
        int v = 0;
        for (std::size_t i = at; i < at + n; ++i) {
            if (t[i] < '0' || t[i] > '9')
                return std::nullopt;
            v = v * 10 + (t[i] - '0');
        }
        return v;
    };
    auto y = digits(0, 4), mo = digits(5, 2), d = digits(8, 2), h = digits(11, 2), mi = digits(14, 2),
         sec = digits(17, 2);
    if (!y || !mo || !d || !h || !mi || !sec || t[4] != '-' || t[7] != '-' || (t[10] != 'T' && t[10] != ' ')
        || t[13] != ':' || t[16] != ':' || *mo < 1 || *mo > 12 || *d < 1 || *d > 31 || *h > 23 || *mi > 59 || *sec > 60)
        return std::nullopt;
    std::size_t i = 19;
    int64_t micros = 0;
    if (i < t.size() && t[i] == '.') {
        ++i;
        int64_t scale = 100'000;
        while (i < t.size() && t[i] >= '0' && t[i] <= '9') {
            micros += (t[i] - '0') * scale;
            scale /= 10;
            ++i;
        }
    }
    int offset = 0;
    if (i < t.size() && t[i] == 'Z') {
        ++i;
    } else if (i < t.size() && (t[i] == '+' || t[i] == '-')) {
        const int sign = t[i] == '-' ? -1 : 1;
        auto oh = digits(i + 1, 2);
        std::size_t at = i + 3;
        if (at < t.size() && t[at] == ':')
            ++at;
        auto om = digits(at, 2);
        if (!oh || !om || *oh > 23 || *om > 59)
            return std::nullopt;
        offset = sign * (*oh * 3600 + *om * 60);
        i = at + 2;
    } else {
        return std::nullopt;
    }
    if (i != t.size())
        return std::nullopt;
    // Days from the civil date (Howard Hinnant's algorithm): no time zone of this computer involved.
    const int yy = *y - (*mo <= 2 ? 1 : 0);
    const int era = yy / 400;
    const int yoe = yy - era * 400;
    const int doy = (153 * (*mo + (*mo > 2 ? -3 : 9)) + 2) / 5 + *d - 1;
    const int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    const int64_t days = static_cast<int64_t>(era) * 146097 + doe - 719468;
    return (days * 86400 + *h * 3600 + *mi * 60 + *sec - offset) * 1'000'000 + micros;
}

ParseResult<SmbStatusData> parseSmbStatusJson(std::string_view json, bool needSessions)
{
    ParseResult<SmbStatusData> r;
    try {
        // Samba writes texts in UTF-8; a document that is not is refused by the parser rather than
        // passed on as broken names.
        std::optional<SmbStatusReader> reader(std::in_place);
        reader->needSessions = needSessions;
        bool parsed = false;
        switch (quickSaxParse(json, *reader)) {
        case JsonSaxOutcome::Read:
            parsed = true;
            break;
        case JsonSaxOutcome::Stopped:
            parsed = false;
            break;
        case JsonSaxOutcome::Undecided: {
            reader.emplace();
            reader->needSessions = needSessions;
            // Bytes that are not UTF-8 would make the library refuse the whole document: they
            // are marked instead, and only the records that hold one are left out.
            if (auto repaired = repairedUtf8(json)) {
                reader->repaired = true;
                parsed = Json::sax_parse(repaired->begin(), repaired->end(), &*reader);
            } else {
                parsed = Json::sax_parse(json.begin(), json.end(), &*reader);
            }
            break;
        }
        }
        if (parsed && reader->finish()) {
            r.value = std::move(reader->data);
            assignLockCounts(r.value, parseByteRangeLocks(json));
        } else
            r.error = reader->error.empty() ? std::string("not valid JSON") : reader->error;
    } catch (const std::bad_alloc&) {
        r.error = "not enough memory to read it";
    } catch (const std::exception& e) {
        r.error = std::string("not valid JSON (") + e.what() + ")";
    }
    return r;
}

namespace {

// Reads one JSON value, the "byte_range_locks" object, and stops at its end: what follows in the
// document is not its business.
class ByteRangeLocksReader final : public nlohmann::json_sax<Json> {
public:
    std::vector<SmbLockCount> counts;
    bool complete = false;

    bool null() override { return true; }
    bool boolean(bool) override { return true; }
    bool number_integer(number_integer_t v) override { return pid(std::to_string(v)); }
    bool number_unsigned(number_unsigned_t v) override { return pid(std::to_string(v)); }
    bool number_float(number_float_t, const string_t&) override { return true; }
    bool string(string_t& v) override { return pid(v); }
    bool binary(binary_t&) override { return false; }
    bool key(string_t& k) override
    {
        if (m_path.size() == 1)
            m_file = cutUtf8(k);
        m_key = std::move(k);
        return true;
    }
    bool start_object(std::size_t) override { return start(); }
    bool start_array(std::size_t) override { return start(); }
    bool end_object() override { return end(); }
    bool end_array() override { return end(); }
    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) override { return false; }

private:
    // Where the reader stands: the keys from the part down ("<file>", "locks", "", "server_id").
    bool start()
    {
        m_path.push_back(m_path.empty() ? std::string() : m_key);
        m_key.clear();
        if (m_path.size() == 2)
            m_filePid = 0;
        if (isLock()) {
            counts.push_back({m_file, 0, 1});
            m_lockHasPid = false;
        }
        return true;
    }
    bool end()
    {
        // A lock without a process of its own is its file's process's (the file names one too);
        // one of no process at all makes every count doubtful.
        if (isLock() && !m_lockHasPid) {
            if (m_filePid == 0)
                return false;
            counts.back().pid = m_filePid;
        }
        m_path.pop_back();
        if (m_path.empty()) {
            complete = true;
            return false;
        }
        return true;
    }
    bool isLock() const { return m_path.size() == 4 && m_path[2] == "locks"; }
    bool pid(const std::string& text)
    {
        if (m_key != "pid" || m_path.empty() || m_path.back() != "server_id")
            return true;
        int32_t value = 0;
        const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
        if (ec != std::errc() || end != text.data() + text.size() || value <= 0)
            return false;
        if (m_path.size() == 3)
            m_filePid = value;
        else if (m_path.size() == 5 && m_path[2] == "locks") {
            counts.back().pid = value;
            m_lockHasPid = true;
        }
        return true;
    }

    std::vector<std::string> m_path;
    std::string m_key;
    std::string m_file;
    int32_t m_filePid = 0;
    bool m_lockHasPid = false;
};

}  // namespace

std::optional<std::vector<SmbLockCount>> parseByteRangeLocks(std::string_view json)
{
    // Samba writes the part last, and no other key of the document has its name: start at the
    // last place it is named as a key, so that the rest of a large document is not read twice.
    const std::string_view name = "\"byte_range_locks\"";
    std::size_t at = json.rfind(name);
    // A name inside a text would have its quotes escaped.
    if (at == std::string_view::npos || (at > 0 && json[at - 1] == '\\'))
        return std::nullopt;
    std::size_t value = json.find_first_not_of(" \t\r\n", at + name.size());
    if (value == std::string_view::npos || json[value] != ':')
        return std::nullopt;
    value = json.find_first_not_of(" \t\r\n", value + 1);
    if (value == std::string_view::npos || json[value] != '{')
        return std::nullopt;
    ByteRangeLocksReader reader;
    try {
        Json::sax_parse(json.begin() + static_cast<std::ptrdiff_t>(value), json.end(), &reader);
    } catch (const std::exception&) {
        return std::nullopt;
    }
    if (!reader.complete)
        return std::nullopt;
    // One count per file and process.
    std::vector<SmbLockCount> merged;
    std::map<std::pair<std::string, int32_t>, std::size_t> index;
    for (SmbLockCount& c : reader.counts) {
        auto [it, isNew] = index.try_emplace({c.path, c.pid}, merged.size());
        if (isNew)
            merged.push_back(std::move(c));
        else
            ++merged[it->second].count;
    }
    return merged;
}

void assignLockCounts(SmbStatusData& data, const std::optional<std::vector<SmbLockCount>>& locks)
{
    if (!locks)
        return;
    std::map<std::pair<std::string, int32_t>, uint32_t> held;
    for (const SmbLockCount& c : *locks)
        held[{c.path, c.pid}] += c.count;
    for (SmbOpen& open : data.opens) {
        auto it = held.find({open.path, open.pid});
        open.locks = it == held.end() ? 0 : it->second;
        if (it != held.end())
            held.erase(it);
    }
}

ParseResult<std::vector<std::string>> parsePdbeditList(std::string_view text)
{
    ParseResult<std::vector<std::string>> r;
    std::size_t pos = 0;
    int lineNo = 0;
    while (pos < text.size()) {
        std::size_t end = text.find('\n', pos);
        std::string_view line = text.substr(pos, end == std::string_view::npos ? std::string_view::npos : end - pos);
        pos = end == std::string_view::npos ? text.size() : end + 1;
        ++lineNo;
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        if (line.empty())
            continue;
        std::size_t colon = line.find(':');
        if (colon == std::string_view::npos || colon == 0) {
            r.error = "line " + std::to_string(lineNo) + " is not \"name:uid:full name\"";
            r.value.clear();
            return r;
        }
        r.value.push_back(cutUtf8(std::string(line.substr(0, colon))));
    }
    return r;
}

namespace {

std::string_view trimmed(std::string_view t)
{
    const std::size_t start = t.find_first_not_of(' ');
    if (start == std::string_view::npos)
        return {};
    return t.substr(start, t.find_last_not_of(' ') - start + 1);
}

// The next word of `line` from `at` (words are separated by blanks); empty at the end.
std::string_view nextWord(std::string_view line, std::size_t& at)
{
    at = std::min(line.size(), line.find_first_not_of(' ', at));
    const std::size_t end = std::min(line.size(), line.find(' ', at));
    std::string_view w = line.substr(at, end - at);
    at = end;
    return w;
}

// A process as smbstatus writes a server id: "PID", or "VNN:PID" in a cluster, perhaps with a
// ".TASK" after it.
std::optional<int32_t> textPid(std::string_view w)
{
    if (auto colon = w.find(':'); colon != std::string_view::npos)
        w = w.substr(colon + 1);
    w = w.substr(0, w.find('.'));
    int32_t pid = 0;
    const auto [end, ec] = std::from_chars(w.data(), w.data() + w.size(), pid);
    if (w.empty() || ec != std::errc() || end != w.data() + w.size() || pid <= 0)
        return std::nullopt;
    return pid;
}

// asctime's "Wed Dec  9 03:34:30 2026".
std::optional<std::tm> asctimeDate(std::string_view t)
{
    static const char* const months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    if (t.size() != 24 || t[3] != ' ' || t[7] != ' ' || t[10] != ' ' || t[13] != ':' || t[16] != ':' || t[19] != ' ')
        return std::nullopt;
    auto number = [&](std::size_t at, std::size_t n) -> std::optional<int> {
        std::string_view d = trimmed(t.substr(at, n));
        int v = 0;
        const auto [end, ec] = std::from_chars(d.data(), d.data() + d.size(), v);
        if (d.empty() || ec != std::errc() || end != d.data() + d.size())
            return std::nullopt;
        return v;
    };
    std::tm tm{};
    const std::string_view month = t.substr(4, 3);
    tm.tm_mon = -1;
    for (int m = 0; m < 12; ++m)
        if (month == months[m])
            tm.tm_mon = m;
    auto day = number(8, 2), h = number(11, 2), mi = number(14, 2), sec = number(17, 2), y = number(20, 4);
    if (tm.tm_mon < 0 || !day || !h || !mi || !sec || !y || *day < 1 || *day > 31 || *h > 23 || *mi > 59 || *sec > 60)
        return std::nullopt;
    tm.tm_mday = *day;
    tm.tm_hour = *h;
    tm.tm_min = *mi;
    tm.tm_sec = *sec;
    tm.tm_year = *y - 1900;
    tm.tm_isdst = -1;
    return tm;
}

std::optional<int64_t> localDate(const std::tm& date)
{
    std::tm copy = date;
    const std::time_t t = std::mktime(&copy);
    if (t == static_cast<std::time_t>(-1))
        return std::nullopt;
    return static_cast<int64_t>(t);
}

}  // namespace

ParseResult<SmbStatusData>
parseSmbStatusLocksText(std::string_view text, const std::function<std::optional<int64_t>(const std::tm&)>& localTime)
{
    ParseResult<SmbStatusData> r;
    SmbStatusData& data = r.value;
    enum class Part { None, Opens, Locks } part = Part::None;
    bool header = false;  // the part's column titles and rule are still to come
    std::vector<SmbLockCount> locks;
    std::size_t pos = 0;
    int lineNo = 0;
    auto skip = [&](const char* cause) {
        data.skipped.push_back({cause, "line " + std::to_string(lineNo) + ": " + cause});
    };
    while (pos < text.size()) {
        std::size_t end = text.find('\n', pos);
        std::string_view line = text.substr(pos, end == std::string_view::npos ? std::string_view::npos : end - pos);
        pos = end == std::string_view::npos ? text.size() : end + 1;
        ++lineNo;
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        if (trimmed(line).empty())
            continue;
        if (line.starts_with("Locked files:")) {
            part = Part::Opens;
            header = true;
            continue;
        }
        if (line.starts_with("Byte range locks:")) {
            part = Part::Locks;
            header = true;
            continue;
        }
        if (line.starts_with("No locked files") || line.starts_with("using configfile") || part == Part::None)
            continue;
        if (header) {
            if (line.starts_with("---"))
                header = false;
            continue;
        }
        if (repairedUtf8(line)) {
            skip("a line that is not valid UTF-8");
            continue;
        }
        std::size_t at = 0;
        auto pid = textPid(nextWord(line, at));
        if (!pid) {
            skip(part == Part::Opens ? "an open file line without a process id" : "a lock line without a process id");
            continue;
        }
        if (part == Part::Locks) {
            // PID DEV:INODE R/W START SIZE SHAREPATH NAME: the path is matched against the opens,
            // whose share path and name are known apart.
            nextWord(line, at);
            nextWord(line, at);
            nextWord(line, at);
            nextWord(line, at);
            const std::string_view rest = trimmed(line.substr(at));
            bool matched = false;
            for (const SmbOpen& open : data.opens) {
                if (open.pid != *pid || !rest.starts_with(open.servicePath))
                    continue;
                if (trimmed(rest.substr(open.servicePath.size())) == open.filename) {
                    locks.push_back({open.path, *pid, 1});
                    matched = true;
                    break;
                }
            }
            if (!matched)
                skip("a lock of a file that no open names");
            continue;
        }
        // PID UID DENYMODE ACCESS R/W OPLOCK SHAREPATH   NAME   TIME
        SmbOpen open;
        open.pid = *pid;
        open.hasShareFileId = false;
        const std::string_view uid = nextWord(line, at);
        const std::string_view deny = nextWord(line, at);
        const std::string_view access = nextWord(line, at);
        nextWord(line, at);  // R/W: what the access mask says, in short
        const std::string_view oplock = nextWord(line, at);
        int64_t uidValue = 0;
        uint32_t mask = 0;
        const bool uidOk = std::from_chars(uid.data(), uid.data() + uid.size(), uidValue).ec == std::errc();
        const bool maskOk =
            access.starts_with("0x")
            && std::from_chars(access.data() + 2, access.data() + access.size(), mask, 16).ec == std::errc();
        std::string_view rest = line.substr(std::min(line.size(), at));
        // The columns are padded; a share path starts with '/'.
        while (!rest.empty() && rest.front() == ' ')
            rest.remove_prefix(1);
        while (!rest.empty() && rest.back() == ' ')
            rest.remove_suffix(1);
        const std::size_t cut = rest.size() >= 27 ? rest.size() - 24 : std::string_view::npos;
        const std::size_t gap = cut == std::string_view::npos ? cut : rest.substr(0, cut).find("   ");
        if (!uidOk || !maskOk || oplock.empty() || gap == std::string_view::npos || rest.substr(cut - 3, 3) != "   ") {
            skip("an open file line that is not \"PID UID DENYMODE ACCESS R/W OPLOCK SHAREPATH   NAME   TIME\"");
            continue;
        }
        open.uid = uidValue;
        open.servicePath = cutUtf8(std::string(rest.substr(0, gap)));
        open.filename = cutUtf8(std::string(rest.substr(gap + 3, cut - 3 - gap - 3)));
        // The share's own folder is opened as "."; the JSON names it by the folder's path alone.
        std::string full = open.filename == "." ? open.servicePath : open.servicePath + "/" + open.filename;
        open.path = cutUtf8(std::move(full));
        open.writeOwner = (mask & 0x80000) != 0;
        open.read = (mask & 0x1) != 0;
        open.write = (mask & 0x6) != 0;
        if (deny.starts_with("DENY_")) {
            open.hasShareMode = true;
            open.shareRead = !(deny == "DENY_READ" || deny == "DENY_ALL" || deny == "DENY_DOS" || deny == "DENY_FCB");
            open.shareWrite = !(deny == "DENY_WRITE" || deny == "DENY_ALL" || deny == "DENY_DOS" || deny == "DENY_FCB");
        }
        if (oplock.starts_with("LEASE(") && oplock.ends_with(")"))
            open.lease = std::string(oplock.substr(6, oplock.size() - 7));
        else
            open.oplock = cutUtf8(std::string(oplock), 40);
        if (auto date = asctimeDate(rest.substr(cut)))
            open.openedAt = localTime ? localTime(*date) : localDate(*date);
        data.opens.push_back(std::move(open));
    }
    // The text tells the locks when it was asked for them (-B); without that part every open
    // file holds none.
    std::map<std::pair<std::string, int32_t>, uint32_t> held;
    for (const SmbLockCount& c : locks)
        held[{c.path, c.pid}] += c.count;
    for (SmbOpen& open : data.opens) {
        auto it = held.find({open.path, open.pid});
        open.locks = it == held.end() ? 0 : it->second;
        if (it != held.end())
            held.erase(it);
    }
    return r;
}

std::vector<int> sessionOfOpens(const SmbStatusData& data)
{
    std::unordered_map<int32_t, std::vector<int>> byPid;
    byPid.reserve(data.sessions.size());
    for (std::size_t i = 0; i < data.sessions.size(); ++i)
        byPid[data.sessions[i].pid].push_back(static_cast<int>(i));

    std::vector<int> owner(data.opens.size(), -1);
    for (std::size_t k = 0; k < data.opens.size(); ++k) {
        const SmbOpen& open = data.opens[k];
        auto it = byPid.find(open.pid);
        if (it == byPid.end())
            continue;
        const std::vector<int>& candidates = it->second;
        int chosen = candidates.front();
        if (candidates.size() > 1 && open.uid) {
            for (int c : candidates) {
                if (data.sessions[static_cast<std::size_t>(c)].uid == open.uid) {
                    chosen = c;
                    break;
                }
            }
        }
        owner[k] = chosen;
    }
    return owner;
}

}  // namespace vantor::samba
