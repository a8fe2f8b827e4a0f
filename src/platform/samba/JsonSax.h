#pragma once
// A quick reader of JSON documents as events, for the large documents of `smbstatus --json`
// (40 MB at 10,000 sessions): nlohmann's lexer takes each byte through several calls and keeps a
// copy of every token for its error texts, which made it most of a poll's time.
//
// It hands a handler exactly the events nlohmann::json::sax_parse would, in the same order, for
// every document it reads itself. What it does not read itself (any syntax error, a \u escape, a
// byte order mark, a number out of range) it leaves to the library: it stops and says so, and the
// caller reads the document again with sax_parse and a fresh handler. So errors keep the library's
// texts, and the quick reader never accepts what the library refuses.

#include <nlohmann/json.hpp>

#include <string_view>

namespace vantor::samba {

enum class JsonSaxOutcome {
    Read,  // the whole document, every event taken
    Stopped,  // the handler refused an event (as sax_parse returns false)
    Undecided  // not read here: read it with sax_parse and a fresh handler
};

JsonSaxOutcome quickSaxParse(std::string_view json, nlohmann::json_sax<nlohmann::json>& handler);

}  // namespace vantor::samba
