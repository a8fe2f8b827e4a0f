#include "SmbStatusDocument.h"

#include <nlohmann/json.hpp>

namespace vantor::bench {

namespace {

using Json = nlohmann::ordered_json;

// Samba writes ", " and ": " between items (nlohmann writes "," and ":"): keep its size.
void write(const Json& v, std::string& out)
{
    if (v.is_object()) {
        out += '{';
        bool first = true;
        for (const auto& [k, item] : v.items()) {
            if (!first)
                out += ", ";
            first = false;
            out += Json(k).dump();
            out += ": ";
            write(item, out);
        }
        out += '}';
    } else if (v.is_array()) {
        out += '[';
        for (std::size_t i = 0; i < v.size(); ++i) {
            if (i)
                out += ", ";
            write(v[i], out);
        }
        out += ']';
    } else {
        out += v.dump();
    }
}

}  // namespace

std::string generateSmbStatusDocument(const std::string& recorded, int sessions, int opensPerSession,
                                      std::string& error)
{
    try {
        const Json doc = Json::parse(recorded);
        const Json& sessionT = doc.at("sessions").begin().value();
        const Json& tconT = doc.at("tcons").begin().value();
        const Json& fileT = doc.at("open_files").begin().value();
        const Json& openT = fileT.at("opens").begin().value();

        // Written piece by piece: one ordered_json of 10,000 sessions would take minutes to build
        // (its object is a vector searched on every insertion).
        std::string sessionsText, tconsText, filesText;
        auto append = [](std::string& into, const std::string& key, const Json& value) {
            if (!into.empty())
                into += ", ";
            into += Json(key).dump();
            into += ": ";
            write(value, into);
        };
        for (int i = 0; i < sessions; ++i) {
            const std::string pid = std::to_string(100000 + i);
            const std::string sessionId = std::to_string(1000000000u + static_cast<unsigned>(i) * 7919u);
            const std::string address = "10." + std::to_string(i / 65536 % 256) + "." + std::to_string(i / 256 % 256)
                                        + "." + std::to_string(i % 256);
            const int uid = 20000 + i;
            Json s = sessionT;
            s["session_id"] = sessionId;
            s["server_id"]["pid"] = pid;
            s["uid"] = uid;
            s["username"] = "user" + std::to_string(i);
            s["remote_machine"] = address;
            s["hostname"] = "ipv4:" + address + ":" + std::to_string(40000 + i % 20000);
            append(sessionsText, sessionId, s);

            Json t = tconT;
            const std::string tconId = std::to_string(2000000000u + static_cast<unsigned>(i) * 104729u);
            t["server_id"]["pid"] = pid;
            t["tcon_id"] = tconId;
            t["session_id"] = sessionId;
            t["machine"] = address;
            append(tconsText, tconId, t);

            for (int k = 0; k < opensPerSession; ++k) {
                const std::string shareFileId = std::to_string(k + 1);
                const std::string name = "department " + std::to_string(i % 40) + "/user" + std::to_string(i)
                                         + "/document " + std::to_string(k) + ".docx";
                Json f = fileT;
                const std::string servicePath = fileT.at("service_path").get<std::string>();
                f["filename"] = name;
                f["fileid"]["inode"] = 5000000 + i * opensPerSession + k;
                Json o = openT;
                o["server_id"]["pid"] = pid;
                o["uid"] = uid;
                o["share_file_id"] = shareFileId;
                f["opens"] = Json::object();
                f["opens"][pid + "/" + shareFileId] = std::move(o);
                append(filesText, servicePath + "/" + name, f);
            }
        }
        std::string text = "{";
        for (const char* key : {"timestamp", "version", "smb_conf"})
            text += Json(key).dump() + ": " + doc.at(key).dump() + ", ";
        text += "\"sessions\": {" + sessionsText + "}, \"tcons\": {" + tconsText + "}, \"open_files\": {" + filesText
                + "}}";
        return text;
    } catch (const std::exception& e) {
        error = e.what();
        return {};
    }
}

}  // namespace vantor::bench
