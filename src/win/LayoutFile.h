#pragma once
// The Windows program's window layout file, layout.ini in its data folder: which columns of a
// list are shown and how wide they are, and where the windows beside the main window are and how
// big. A layout file without a path keeps nothing (the tests' windows start as designed).

#include <windows.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace vantor::win {

class LayoutFile {
public:
    LayoutFile() = default;
    explicit LayoutFile(std::filesystem::path file)
        : m_file(std::move(file))
    {
    }

    bool kept() const { return !m_file.empty(); }
    // Numbers under `section`/`key`, as save wrote them; empty when there are none.
    std::vector<int> numbers(const std::string& section, const std::string& key) const;
    void save(const std::string& section, const std::string& key, const std::vector<int>& values) const;

    // A window's place and size: restored when it was saved and lies on a screen.
    void restoreWindow(HWND window, const std::string& section) const;
    void saveWindow(HWND window, const std::string& section) const;

private:
    std::filesystem::path m_file;
};

}  // namespace vantor::win
