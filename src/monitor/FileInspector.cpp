#include "monitor/FileInspector.h"

#include <filesystem>

namespace vantor {

bool LocalFileInspector::isDirectoryOrUnreadable(const std::string& path) const
{
    std::error_code ec;
    auto st = std::filesystem::status(std::filesystem::path(path), ec);
    if (ec || st.type() == std::filesystem::file_type::not_found)
        return true;
    return st.type() == std::filesystem::file_type::directory;
}

}  // namespace vantor
