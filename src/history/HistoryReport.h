#pragma once
// The web-based report: one self-contained UTF-8 HTML page made from a loaded history. A summary,
// a picture of activity over time, totals per user, and every session with its files. The session
// list is drawn by the page's own script from data embedded in it, a page of rows at a time, so a
// history of a hundred thousand sessions stays quick to open; every text from the logs is escaped
// for where it stands (HTML text, or JSON inside the page).

#include "history/HistoryReader.h"

#include <cstdint>
#include <filesystem>
#include <ostream>
#include <string>
#include <string_view>

namespace vantor {

// The report's file: `reportPath` as given when it holds the platform's separator, else in `dataDir`.
std::filesystem::path reportFilePath(const std::filesystem::path& dataDir, const std::string& reportPath);

// Writes the page. `generatedAt` is the moment shown as the report's date.
void writeReport(std::ostream& out, const HistoryData& data, int64_t generatedAt);

// Writes the page to the file that `reportPathName` names, complete and closed on return. The page
// is written beside its final name and moved onto it, so a reader never meets half a report, and a
// report that cannot be written leaves the previous one as it was. False when it could not be
// written; then `why` (when given) names the file and the reason.
bool generateReport(const HistoryData& data, const std::filesystem::path& dataDir, const std::string& reportPathName,
                    int64_t generatedAt, std::string* why = nullptr);

// The console's "report" command: loads the logs and writes the report from that load, under the
// history's gate. Thread-safe.
bool loadAndGenerateReport(const std::filesystem::path& dataDir, const std::string& reportPathName, int64_t generatedAt,
                           std::string* why = nullptr);

// Text made safe for HTML text and attribute values; bytes that are not UTF-8 become U+FFFD.
std::string htmlEscape(std::string_view text);
// A JSON string literal (quotes included) that is also safe inside a <script> element.
std::string jsonString(std::string_view text);

}  // namespace vantor
