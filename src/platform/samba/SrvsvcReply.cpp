#include "platform/samba/SrvsvcReply.h"

#include <limits>
#include <nlohmann/json.hpp>

namespace vantor::samba {

namespace {

using Json = nlohmann::json;

// The texts of the reply are cut as the service's names are; a missing optional text is empty.
bool readText(const Json& object, const char* key, std::string& out, bool required, std::string& error)
{
    auto it = object.find(key);
    if (it == object.end() || it->is_null()) {
        if (required)
            error = std::string("\"") + key + "\" is missing";
        return !required;
    }
    if (!it->is_string()) {
        error = std::string("\"") + key + "\" is not a text";
        return false;
    }
    out = cutUtf8(it->get<std::string>());
    return true;
}

bool readUnsigned(const Json& object, const char* key, uint64_t max, uint64_t& out, bool required, std::string& error)
{
    auto it = object.find(key);
    if (it == object.end()) {
        if (required)
            error = std::string("\"") + key + "\" is missing";
        return !required;
    }
    if (it->is_number_unsigned())
        out = it->get<uint64_t>();
    else if (it->is_number_integer() && it->get<int64_t>() >= 0)
        out = static_cast<uint64_t>(it->get<int64_t>());
    else {
        error = std::string("\"") + key + "\" is not a count";
        return false;
    }
    if (out > max) {
        error = std::string("\"") + key + "\" is out of range";
        return false;
    }
    return true;
}

constexpr uint64_t u32max = std::numeric_limits<uint32_t>::max();

}  // namespace

ParseResult<SrvsvcReply> parseSrvsvcReply(std::string_view text)
{
    ParseResult<SrvsvcReply> result;
    Json doc = Json::parse(text.begin(), text.end(), nullptr, false);
    if (doc.is_discarded()) {
        result.error =
            text.find_first_not_of(" \t\r\n") == std::string_view::npos ? "no answer" : "not a JSON document";
        return result;
    }
    if (!doc.is_object() || !doc.contains("ok") || !doc["ok"].is_boolean()) {
        result.error = "not an answer of the helper (no \"ok\")";
        return result;
    }
    SrvsvcReply reply;
    std::string& error = result.error;
    reply.ok = doc["ok"].get<bool>();
    if (!reply.ok) {
        auto it = doc.find("error");
        if (it == doc.end() || !it->is_object()) {
            error = "a failure without \"error\"";
            return result;
        }
        const Json& e = *it;
        SrvsvcError& out = reply.error;
        if (!readText(e, "kind", out.kind, true, error) || !readText(e, "name", out.name, false, error)
            || !readText(e, "message", out.message, false, error) || !readText(e, "account", out.account, false, error)
            || !readText(e, "path", out.path, false, error)
            || !readUnsigned(e, "code", std::numeric_limits<uint64_t>::max(), out.code, false, error))
            return result;
        if (out.kind.empty()) {
            error = "a failure of no kind";
            return result;
        }
        result.value = std::move(reply);
        return result;
    }
    if (auto it = doc.find("sessions"); it != doc.end()) {
        if (!it->is_array()) {
            error = "\"sessions\" is not a list";
            return result;
        }
        reply.sessions.reserve(it->size());
        for (const Json& s : *it) {
            if (!s.is_object()) {
                error = "a session is not an object";
                return result;
            }
            NetSessionInfo info;
            uint64_t opens = 0;
            if (!readText(s, "user", info.user, true, error) || !readText(s, "computer", info.computer, true, error)
                || !readUnsigned(s, "opens", u32max, opens, true, error))
                return result;
            info.openFiles = static_cast<uint32_t>(opens);
            // What the server tells of the session beyond that: read where it fits, never refused.
            // A time before 1970 is a server's "unknown" (-1 seconds connected) turned into a date.
            if (auto at = s.find("connected_at"); at != s.end() && at->is_number_integer() && at->get<int64_t>() >= 0)
                info.details.connectedAt = at->get<int64_t>();
            if (auto idle = s.find("idle"); idle != s.end() && idle->is_number_unsigned())
                info.details.idleSeconds = static_cast<int64_t>(idle->get<uint64_t>());
            if (auto shares = s.find("shares"); shares != s.end() && shares->is_array())
                for (const Json& share : *shares)
                    if (share.is_string() && !share.get<std::string>().empty())
                        info.details.shares.push_back(cutUtf8(share.get<std::string>()));
            reply.sessions.push_back(std::move(info));
        }
    }
    if (auto it = doc.find("files"); it != doc.end()) {
        if (!it->is_array()) {
            error = "\"files\" is not a list";
            return result;
        }
        reply.files.reserve(it->size());
        for (const Json& f : *it) {
            if (!f.is_object()) {
                error = "a file is not an object";
                return result;
            }
            NetFileInfo info;
            uint64_t id = 0;
            if (!readUnsigned(f, "id", u32max, id, true, error) || !readText(f, "path", info.path, true, error)
                || !readText(f, "user", info.user, false, error))
                return result;
            info.id = static_cast<uint32_t>(id);
            reply.files.push_back(std::move(info));
        }
    }
    if (auto it = doc.find("shares"); it != doc.end()) {
        if (!it->is_array()) {
            error = "\"shares\" is not a list";
            return result;
        }
        for (const Json& s : *it) {
            if (!s.is_object()) {
                error = "a share is not an object";
                return result;
            }
            NetShareInfo share;
            if (!readText(s, "name", share.name, true, error) || !readText(s, "path", share.path, false, error))
                return result;
            reply.shares.push_back(std::move(share));
        }
    }
    result.value = std::move(reply);
    return result;
}

}  // namespace vantor::samba
