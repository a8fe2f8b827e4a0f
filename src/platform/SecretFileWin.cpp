// Windows keeps who may read a file in its access list, which the user's profile folder already
// limits to its owner; the file is read as it is.
#include "platform/SecretFile.h"

#include <fstream>
#include <iterator>

namespace vantor {

SecretFileStatus readSecretFile(const std::filesystem::path& path, std::string& content)
{
    content.clear();
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec) || std::filesystem::file_size(path, ec) > 64 * 1024 || ec)
        return SecretFileStatus::Unreadable;
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return SecretFileStatus::Unreadable;
    content.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    if (in.bad()) {
        content.clear();
        return SecretFileStatus::Unreadable;
    }
    return SecretFileStatus::Read;
}

}  // namespace vantor
