#include "TempDir.h"

#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

namespace vantor::test {

TempDir::TempDir()
{
    std::random_device rd;
    for (int attempt = 0; attempt < 100; ++attempt) {
        auto p = std::filesystem::temp_directory_path() / ("vantor-test-" + std::to_string(rd()));
        if (std::filesystem::create_directory(p)) {
            m_path = p;
            return;
        }
    }
    throw std::runtime_error("cannot create a temporary directory");
}

TempDir::~TempDir()
{
    std::error_code ec;
    std::filesystem::remove_all(m_path, ec);
}

void TempDir::write(const std::string& name, const std::string& content) const
{
    std::ofstream out(m_path / name, std::ios::binary);
    out << content;
}

std::string TempDir::read(const std::string& name) const
{
    std::ifstream in(m_path / name, std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

std::string TempDir::readText(const std::string& name) const
{
    std::ifstream in(m_path / name);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

}  // namespace vantor::test
