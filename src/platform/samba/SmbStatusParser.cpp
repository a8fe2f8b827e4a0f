#include "platform/samba/SmbStatusParser.h"

#include "platform/NetManagement.h"

#include <charconv>
#include <limits>
#include <nlohmann/json.hpp>
#include <unordered_map>

namespace vantor::samba {

namespace {

using Json = nlohmann::ordered_json;

// A shape error: what was wrong and where, for the status text.
struct ShapeError {
    std::string text;
};

[[noreturn]] void fail(std::string text)
{
    throw ShapeError{std::move(text)};
}

const Json& member(const Json& object, const char* key, const std::string& where)
{
    auto it = object.find(key);
    if (it == object.end())
        fail(where + " has no \"" + key + "\"");
    return *it;
}

const Json& objectMember(const Json& object, const char* key, const std::string& where)
{
    const Json& v = member(object, key, where);
    if (!v.is_object())
        fail("\"" + std::string(key) + "\" of " + where + " is not an object");
    return v;
}

std::string stringMember(const Json& object, const char* key, const std::string& where)
{
    const Json& v = member(object, key, where);
    if (!v.is_string())
        fail("\"" + std::string(key) + "\" of " + where + " is not a text");
    return cutUtf8(v.get<std::string>());
}

// Samba writes ids as decimal texts ("7479"); a number is taken as well.
uint64_t unsignedValue(const Json& v, uint64_t max, const std::string& what)
{
    if (v.is_number_unsigned()) {
        auto n = v.get<uint64_t>();
        if (n > max)
            fail(what + " is out of range");
        return n;
    }
    if (v.is_number_integer()) {
        auto n = v.get<int64_t>();
        if (n < 0 || static_cast<uint64_t>(n) > max)
            fail(what + " is out of range");
        return static_cast<uint64_t>(n);
    }
    if (v.is_string()) {
        const auto& s = v.get_ref<const std::string&>();
        uint64_t n = 0;
        auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), n);
        if (s.empty() || ec != std::errc() || end != s.data() + s.size())
            fail(what + " is not a number");
        if (n > max)
            fail(what + " is out of range");
        return n;
    }
    fail(what + " is neither a number nor a text");
}

int32_t pidOf(const Json& holder, const std::string& where)
{
    const Json& serverId = objectMember(holder, "server_id", where);
    auto pid = unsignedValue(member(serverId, "pid", where + "'s server_id"),
                             static_cast<uint64_t>(std::numeric_limits<int32_t>::max()), "the pid of " + where);
    if (pid == 0)
        fail("the pid of " + where + " is 0");
    return static_cast<int32_t>(pid);
}

std::optional<int64_t> uidOf(const Json& holder, const std::string& where)
{
    auto it = holder.find("uid");
    if (it == holder.end() || it->is_null())
        return std::nullopt;
    if (it->is_number_integer())
        return it->get<int64_t>();
    return static_cast<int64_t>(unsignedValue(*it, std::numeric_limits<uint32_t>::max(), "the uid of " + where));
}

SmbStatusData readDocument(const Json& doc)
{
    if (!doc.is_object())
        fail("the document is not a JSON object");
    SmbStatusData data;

    const Json& sessions = objectMember(doc, "sessions", "the document");
    data.sessions.reserve(sessions.size());
    for (const auto& [id, s] : sessions.items()) {
        const std::string where = "session " + cutUtf8(id, 40);
        if (!s.is_object())
            fail(where + " is not an object");
        SmbSession session;
        session.user = stringMember(s, "username", where);
        session.remoteMachine = stringMember(s, "remote_machine", where);
        session.pid = pidOf(s, where);
        session.uid = uidOf(s, where);
        data.sessions.push_back(std::move(session));
    }

    // A lock directory that no client has used yet has no "open_files" at all.
    auto files = doc.find("open_files");
    if (files == doc.end() || files->is_null())
        return data;
    if (!files->is_object())
        fail("\"open_files\" of the document is not an object");
    for (const auto& [path, f] : files->items()) {
        const std::string where = "open file " + cutUtf8(path, 80);
        if (!f.is_object())
            fail(where + " is not an object");
        auto opens = f.find("opens");
        if (opens == f.end())
            continue;
        if (!opens->is_object())
            fail("\"opens\" of " + where + " is not an object");
        for (const auto& [key, o] : opens->items()) {
            const std::string openWhere = "open " + cutUtf8(key, 40) + " of " + cutUtf8(path, 80);
            if (!o.is_object())
                fail(openWhere + " is not an object");
            SmbOpen open;
            open.path = cutUtf8(path);
            open.pid = pidOf(o, openWhere);
            open.shareFileId = static_cast<uint32_t>(unsignedValue(
                member(o, "share_file_id", openWhere), std::numeric_limits<uint32_t>::max(),
                "the share_file_id of " + openWhere));
            open.uid = uidOf(o, openWhere);
            data.opens.push_back(std::move(open));
        }
    }
    return data;
}

}  // namespace

ParseResult<SmbStatusData> parseSmbStatusJson(std::string_view json)
{
    ParseResult<SmbStatusData> r;
    try {
        // Samba writes texts in UTF-8; a document that is not is refused by the parser rather than
        // passed on as broken names.
        Json doc = Json::parse(json.begin(), json.end());
        r.value = readDocument(doc);
    } catch (const ShapeError& e) {
        r.error = e.text;
    } catch (const nlohmann::json::exception& e) {
        r.error = std::string("not valid JSON (") + e.what() + ")";
    } catch (const std::bad_alloc&) {
        r.error = "not enough memory to read it";
    } catch (const std::exception& e) {
        r.error = e.what();
    }
    if (!r.ok())
        r.value = {};
    return r;
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
