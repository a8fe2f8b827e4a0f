#pragma once
// The rows of one list page of the Options window: the list file as the user edits it, names as
// written (no change of case). The table shows the newest entry at the top: reading puts every
// line at the top, adding puts the new pair at the top, and saving writes from the top down.

#include "base/AccessList.h"

#include <cstddef>
#include <filesystem>
#include <vector>

namespace vantor {

class AccessListRows {
public:
    // Replaces the rows by the file's lines, the last line at the top. A missing file is no rows.
    void readFile(const std::filesystem::path& file);
    // Nothing is checked: empty names, names with blanks and duplicates are all taken (cut at 255
    // bytes, as every name of the lists is).
    void addAtTop(const std::string& user, const std::string& computer);
    // An index outside the rows changes nothing.
    void remove(int index);
    void clear() { m_rows.clear(); }
    // Rewrites the file from the top row down; false (file left as it was) when it cannot be written.
    bool save(const std::filesystem::path& file) const;

    // The rows as the list file holds them once saved and read again: what the file would make of
    // empty names and names with blanks, in file order.
    std::vector<AccessRow> fileLines() const;
    // Replaces the rows by a list file's lines in file order, the last line at the top.
    void setFileLines(std::vector<AccessRow> lines);

    const std::vector<AccessRow>& rows() const { return m_rows; }
    std::size_t size() const { return m_rows.size(); }
    bool empty() const { return m_rows.empty(); }

    bool operator==(const AccessListRows&) const = default;

private:
    std::vector<AccessRow> m_rows;
};

}  // namespace vantor
