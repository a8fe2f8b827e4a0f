#pragma once
// The daily report mail: when it is due, and what it says. Free functions over plain values so the
// schedule is tested with any clock and time zone, and the text with any history.

#include "history/HistoryReader.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vantor {

struct DailyTime {
    int hour = 0;
    int minute = 0;
};

// "hh:mm" with hh 00-23 and mm 00-59; anything else is no time of day.
std::optional<DailyTime> parseDailyTime(std::string_view text);

// The local date ("YYYY-MM-DD") of the last time `at` that came at or before `now`: today's when
// that minute has come, yesterday's otherwise. The report of that date is the one due.
std::string dueReportDate(int64_t now, DailyTime at);

// Whether the report of `dueDate` still has to go, given the date of the last one sent. One a day
// at most; a report missed while the program was not running goes once, late.
bool dailyReportDue(const std::string& dueDate, const std::string& lastSentDate);

std::string dailyReportSubject(const std::string& date);

// The plain-text summary of the history between `from` and `to`: sessions, users, computers,
// files opened and the busiest users. Lines end in CR LF, as a mail body's do.
std::string dailyReportBody(const HistoryData& history, int64_t from, int64_t to);

}  // namespace vantor
