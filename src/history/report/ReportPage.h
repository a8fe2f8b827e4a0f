#pragma once
// The parts of the report's page that its writer (history/HistoryReport.cpp) puts together: the
// buffered writer, the number and duration texts, the summary, the activity picture, the users'
// table, the packed data for the page's script, and the page's own style and script.

#include "base/TimeText.h"
#include "history/HistoryReader.h"
#include "history/HistoryReport.h"

#include <charconv>
#include <cstdint>
#include <ostream>
#include <string>
#include <string_view>

namespace vantor::report {

// A JSON string literal of `text` appended to `out` (see jsonString).
void appendJsonString(std::string& out, std::string_view text);

// Gathers the page in memory and hands it to the stream in large pieces.
class PageWriter {
public:
    explicit PageWriter(std::ostream& out)
        : m_out(out)
    {
        m_buf.reserve(chunk + 4096);
    }
    ~PageWriter() { flush(); }
    PageWriter(const PageWriter&) = delete;
    PageWriter& operator=(const PageWriter&) = delete;

    PageWriter& operator<<(std::string_view s)
    {
        m_buf.append(s);
        if (m_buf.size() >= chunk)
            flush();
        return *this;
    }
    PageWriter& operator<<(char c)
    {
        m_buf.push_back(c);
        return *this;
    }
    PageWriter& num(int64_t v)
    {
        char tmp[24];
        auto r = std::to_chars(tmp, tmp + sizeof tmp, v);
        return *this << std::string_view(tmp, static_cast<std::size_t>(r.ptr - tmp));
    }
    PageWriter& html(std::string_view s) { return *this << htmlEscape(s); }
    PageWriter& json(std::string_view s)
    {
        appendJsonString(m_buf, s);
        if (m_buf.size() >= chunk)
            flush();
        return *this;
    }
    void flush()
    {
        if (!m_buf.empty())
            m_out.write(m_buf.data(), static_cast<std::streamsize>(m_buf.size()));
        m_buf.clear();
    }

private:
    static constexpr std::size_t chunk = std::size_t{1} << 20;
    std::ostream& m_out;
    std::string m_buf;
};

// 1234567 as "1,234,567".
std::string withThousands(int64_t v);
// A duration as the log's clock text, with the days before it when there are any.
std::string longDuration(int64_t seconds);

struct Summary {
    int64_t first = INT64_MAX;  // the earliest and latest valid moment of any record
    int64_t last = INT64_MIN;
    std::size_t users = 0;
    std::size_t computers = 0;
    std::size_t filesInSessions = 0;
};

Summary summarise(const HistoryData& data);

// Sessions active and files opened over time, as two bar charts in one picture.
void writeActivity(PageWriter& w, const HistoryData& data, LocalTimeCache& local);
// The totals per user, longest total time first.
void writeUsers(PageWriter& w, const HistoryData& data, LocalTimeCache& local);
// The sessions and their files, packed, as data for the page's script (layout in ReportData.cpp).
void writeData(PageWriter& w, const HistoryData& data, LocalTimeCache& local);

// The page's style sheet and script (report.css and report.js beside this file, embedded by the build).
extern const std::string_view pageStyle;
extern const std::string_view pageScript;

}  // namespace vantor::report
