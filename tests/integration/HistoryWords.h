#pragma once
// A loaded history as one line of words, as the bus probe prints it and the test reads the
// service's logs itself: every session and every file line with every field the window shows.

#include "history/HistoryReader.h"

#include <string>

namespace vantor::test {

inline std::string historyWords(const HistoryData& h)
{
    std::string out;
    for (const SessionRecord& s : h.sessions())
        out += " S:" + s.user + "," + s.computer + "," + std::to_string(s.start) + "," + std::to_string(s.duration)
               + "," + std::to_string(h.countFilesInSession(s.user, s.computer, s.start, s.end()));
    for (const FileRecord& f : h.files())
        out += " F:" + f.user + "," + f.computer + "," + std::to_string(f.time) + "," + f.path;
    return out;
}

}  // namespace vantor::test
