#pragma once
// The rows of the two tables as they travel on the bus. Each row kind has ONE pair of functions and
// one signature: a column added to a row is added here, on both sides, and nowhere else.

#include "monitor/SessionTypes.h"

#include <systemd/sd-bus.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace vantor::bus {

// A row is its table's columns, then its details; a number the service does not tell travels as
// absentNumber.
#define VANTOR_BUS_SESSION_ROW "(ssu(xxassssxxx))"
#define VANTOR_BUS_FILE_ROW "(suui(ssbbssxx))"
// One of every user's open files: its id, path, the computer and user that hold it, its details.
#define VANTOR_BUS_LISTED_FILE_ROW "(usss(ssbbssxx))"
// A share: its name and its folder.
#define VANTOR_BUS_SHARE_ROW "(ss)"
inline constexpr const char* sessionRowSignature = VANTOR_BUS_SESSION_ROW;
inline constexpr const char* fileRowSignature = VANTOR_BUS_FILE_ROW;
inline constexpr const char* listedFileRowSignature = VANTOR_BUS_LISTED_FILE_ROW;
inline constexpr const char* shareRowSignature = VANTOR_BUS_SHARE_ROW;
inline constexpr int64_t absentNumber = INT64_MIN;

// Each returns sd-bus's result: negative errno on failure.
int writeSessionRow(sd_bus_message* m, const SessionEntry& row);
int readSessionRow(sd_bus_message* m, SessionEntry& row);
int writeFileRow(sd_bus_message* m, const OpenFileRow& row);
int readFileRow(sd_bus_message* m, OpenFileRow& row);
int writeListedFile(sd_bus_message* m, const NetFileInfo& file);
int readListedFile(sd_bus_message* m, NetFileInfo& file);
int writeShare(sd_bus_message* m, const NetShareInfo& share);
int readShare(sd_bus_message* m, NetShareInfo& share);

// An array of rows, with the same functions.
int writeSessionRows(sd_bus_message* m, const std::vector<SessionEntry>& rows);
int readSessionRows(sd_bus_message* m, std::vector<SessionEntry>& rows);
int writeFileRows(sd_bus_message* m, const std::vector<OpenFileRow>& rows);
int readFileRows(sd_bus_message* m, std::vector<OpenFileRow>& rows);
int writeListedFiles(sd_bus_message* m, const std::vector<NetFileInfo>& files);
int readListedFiles(sd_bus_message* m, std::vector<NetFileInfo>& files);
int writeShares(sd_bus_message* m, const std::vector<NetShareInfo>& shares);
int readShares(sd_bus_message* m, std::vector<NetShareInfo>& shares);

// The options as names and the values the settings file would hold, "a{ss}".
using OptionValues = std::vector<std::pair<std::string, std::string>>;
int writeOptionValues(sd_bus_message* m, const OptionValues& values);
int readOptionValues(sd_bus_message* m, OptionValues& values);

}  // namespace vantor::bus
