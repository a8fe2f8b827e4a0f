#include "platform/samba/TestparmParser.h"

#include <cctype>

namespace vantor::samba {

namespace {

std::string_view trimmed(std::string_view s)
{
    const auto space = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
    while (!s.empty() && space(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && space(s.back()))
        s.remove_suffix(1);
    return s;
}

std::string lower(std::string_view s)
{
    std::string out(s);
    for (char& c : out)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

// Samba's booleans; testparm writes "Yes"/"No", a hand-made file may say more.
bool truthy(std::string_view value)
{
    const std::string v = lower(value);
    return v == "yes" || v == "true" || v == "1" || v == "on";
}

struct Section {
    std::string name;
    std::string path;
    bool hasPath = false;
    bool printable = false;
};

}  // namespace

std::vector<NetShareInfo> parseTestparmShares(std::string_view text)
{
    std::vector<Section> sections;
    Section global;
    Section* current = nullptr;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        std::string_view line = trimmed(text.substr(0, end));
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        if (line.empty() || line.front() == '#' || line.front() == ';')
            continue;
        if (line.front() == '[') {
            const std::size_t close = line.find(']');
            const std::string_view name =
                close == std::string_view::npos ? std::string_view() : trimmed(line.substr(1, close - 1));
            if (name.empty()) {
                current = nullptr;  // its lines belong to no share we could name
                continue;
            }
            if (lower(name) == "global") {
                current = &global;
                continue;
            }
            sections.push_back({cutUtf8(std::string(name)), {}, false, lower(name) == "printers"});
            current = &sections.back();
            continue;
        }
        const std::size_t eq = line.find('=');
        if (!current || eq == std::string_view::npos)
            continue;
        const std::string key = lower(trimmed(line.substr(0, eq)));
        const std::string_view value = trimmed(line.substr(eq + 1));
        if (key == "path" || key == "directory") {
            current->path = std::string(value);
            current->hasPath = true;
        } else if (key == "printable" || key == "print ok") {
            current->printable = truthy(value);
        }
    }
    std::vector<NetShareInfo> out;
    for (Section& s : sections) {
        if (s.printable)
            continue;
        std::string path = s.hasPath ? std::move(s.path) : global.path;
        if (!path.empty())
            out.push_back({std::move(s.name), std::move(path)});
    }
    return out;
}

}  // namespace vantor::samba
