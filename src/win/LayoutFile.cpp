#include "win/LayoutFile.h"

#include "win/WinUi.h"

#include <sstream>

namespace vantor::win {

std::vector<int> LayoutFile::numbers(const std::string& section, const std::string& key) const
{
    if (!kept())
        return {};
    wchar_t text[512] = {};
    GetPrivateProfileStringW(wide(section).c_str(), wide(key).c_str(), L"", text, 512, m_file.wstring().c_str());
    std::vector<int> out;
    std::istringstream in(utf8(text));
    std::string item;
    while (std::getline(in, item, ',')) {
        try {
            std::size_t used = 0;
            const int n = std::stoi(item, &used);
            if (used != item.size())
                return {};
            out.push_back(n);
        } catch (...) {
            return {};  // a file edited by hand into nonsense counts as no layout
        }
    }
    return out;
}

void LayoutFile::save(const std::string& section, const std::string& key, const std::vector<int>& values) const
{
    if (!kept())
        return;
    std::string text;
    for (int v : values)
        text += (text.empty() ? "" : ",") + std::to_string(v);
    WritePrivateProfileStringW(wide(section).c_str(), wide(key).c_str(), wide(text).c_str(), m_file.wstring().c_str());
}

void LayoutFile::restoreWindow(HWND window, const std::string& section) const
{
    const std::vector<int> r = numbers(section, "rect");
    if (r.size() != 4 || r[2] <= r[0] || r[3] <= r[1])
        return;
    RECT rect{r[0], r[1], r[2], r[3]};
    // A screen that is gone (a second monitor unplugged) must not keep the window out of sight.
    if (!MonitorFromRect(&rect, MONITOR_DEFAULTTONULL))
        return;
    WINDOWPLACEMENT placement{};
    placement.length = sizeof(placement);
    if (!GetWindowPlacement(window, &placement))
        return;
    placement.rcNormalPosition = rect;
    placement.showCmd = IsWindowVisible(window) ? SW_SHOWNORMAL : SW_HIDE;
    SetWindowPlacement(window, &placement);
}

void LayoutFile::saveWindow(HWND window, const std::string& section) const
{
    WINDOWPLACEMENT placement{};
    placement.length = sizeof(placement);
    if (!kept() || !GetWindowPlacement(window, &placement))
        return;
    const RECT& r = placement.rcNormalPosition;
    save(section, "rect",
         {static_cast<int>(r.left), static_cast<int>(r.top), static_cast<int>(r.right), static_cast<int>(r.bottom)});
}

}  // namespace vantor::win
