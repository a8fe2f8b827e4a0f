#include "bus/BusRows.h"

#include <string>

namespace vantor::bus {

namespace {

// The signature's contents without its parentheses, as sd-bus wants it for a struct.

template <class Row, class Write>
int writeRows(sd_bus_message* m, const char* signature, const std::vector<Row>& rows, Write write)
{
    int r = sd_bus_message_open_container(m, 'a', signature);
    for (std::size_t i = 0; r >= 0 && i < rows.size(); ++i)
        r = write(m, rows[i]);
    return r < 0 ? r : sd_bus_message_close_container(m);
}

template <class Row, class Read>
int readRows(sd_bus_message* m, const char* signature, std::vector<Row>& rows, Read read)
{
    rows.clear();
    int r = sd_bus_message_enter_container(m, 'a', signature);
    while (r > 0) {
        Row row;
        r = read(m, row);
        if (r > 0)
            rows.push_back(std::move(row));
    }
    return r < 0 ? r : sd_bus_message_exit_container(m);
}

}  // namespace

int writeSessionRow(sd_bus_message* m, const SessionEntry& row)
{
    return sd_bus_message_append(m, sessionRowSignature, row.user.c_str(), row.computer.c_str(), row.openFiles);
}

int readSessionRow(sd_bus_message* m, SessionEntry& row)
{
    const char* user = nullptr;
    const char* computer = nullptr;
    const int r = sd_bus_message_read(m, sessionRowSignature, &user, &computer, &row.openFiles);
    if (r > 0) {
        row.user = user;
        row.computer = computer;
    }
    return r;
}

int writeFileRow(sd_bus_message* m, const OpenFileRow& row)
{
    return sd_bus_message_append(m, fileRowSignature, row.path.c_str(), row.id,
                                 static_cast<uint32_t>(row.icon == FileIconKind::Folder ? 0 : 1),
                                 static_cast<int32_t>(row.imageIndex));
}

int readFileRow(sd_bus_message* m, OpenFileRow& row)
{
    const char* path = nullptr;
    uint32_t icon = 0;
    int32_t imageIndex = 0;
    const int r = sd_bus_message_read(m, fileRowSignature, &path, &row.id, &icon, &imageIndex);
    if (r > 0) {
        row.path = path;
        row.icon = icon == 0 ? FileIconKind::Folder : FileIconKind::FileType;
        row.imageIndex = imageIndex;
    }
    return r;
}

int writeSessionRows(sd_bus_message* m, const std::vector<SessionEntry>& rows)
{
    return writeRows(m, sessionRowSignature, rows, writeSessionRow);
}

int readSessionRows(sd_bus_message* m, std::vector<SessionEntry>& rows)
{
    return readRows(m, sessionRowSignature, rows, readSessionRow);
}

int writeFileRows(sd_bus_message* m, const std::vector<OpenFileRow>& rows)
{
    return writeRows(m, fileRowSignature, rows, writeFileRow);
}

int readFileRows(sd_bus_message* m, std::vector<OpenFileRow>& rows)
{
    return readRows(m, fileRowSignature, rows, readFileRow);
}

}  // namespace vantor::bus
