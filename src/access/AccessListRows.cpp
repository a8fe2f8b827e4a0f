#include "access/AccessListRows.h"

#include "platform/NetManagement.h"
#include "platform/SystemText.h"

#include <algorithm>
#include <sstream>

namespace vantor {

void AccessListRows::readFile(const std::filesystem::path& file)
{
    setFileLines(loadAccessRowsFile(file));
}

void AccessListRows::setFileLines(std::vector<AccessRow> lines)
{
    m_rows = std::move(lines);
    std::reverse(m_rows.begin(), m_rows.end());
}

std::vector<AccessRow> AccessListRows::fileLines() const
{
    std::string content;
    for (const auto& r : m_rows)
        content += r.user + ' ' + r.computer + '\n';
    std::istringstream in(toSystemText(std::move(content)));
    return readAccessRows(in);
}

void AccessListRows::addAtTop(const std::string& user, const std::string& computer)
{
    m_rows.insert(m_rows.begin(), AccessRow{cutUtf8(user), cutUtf8(computer)});
}

void AccessListRows::remove(int index)
{
    if (index < 0 || static_cast<std::size_t>(index) >= m_rows.size())
        return;
    m_rows.erase(m_rows.begin() + index);
}

bool AccessListRows::save(const std::filesystem::path& file) const
{
    std::vector<std::pair<std::string, std::string>> pairs;
    pairs.reserve(m_rows.size());
    for (const auto& r : m_rows)
        pairs.emplace_back(r.user, r.computer);
    return writeAccessListFile(file, pairs);
}

}  // namespace vantor
