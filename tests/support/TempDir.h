#pragma once
#include <filesystem>
#include <string>

namespace vantor::test {

// A fresh directory under the system's temporary directory, removed with its content on scope exit.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return m_path; }
    std::filesystem::path operator/(const std::string& name) const { return m_path / name; }

    void write(const std::string& name, const std::string& content) const;
    std::string read(const std::string& name) const;
    // Read in text mode, as the program's text files are written: on Windows "\r\n" reads "\n".
    std::string readText(const std::string& name) const;

private:
    std::filesystem::path m_path;
};

}  // namespace vantor::test
