#pragma once
// The two windows that show what the sessions table has no room for, both fed from the monitor's
// published snapshot: "Open files" (dialog 190: every user's open files, with a filter that
// answers "who holds budget.ods open?" and "Close resource") and "Shares" (dialog 191: each share,
// its folder, how many connections and from whom). They live beside the main window, which shows
// and hides them; each says when it is shown or hidden, for the listing of every user's files
// runs only while one of them is up.

#include "monitor/DetailsText.h"
#include "win/LayoutFile.h"
#include "win/ListColumns.h"
#include "win/WinUi.h"
#include "win/resource.h"

#include <functional>
#include <string>
#include <vector>

namespace vantor::win {

// Keeps a window's controls where the template put them against its edges as it is resized.
class EdgeLayout {
public:
    enum Anchor { Left = 0, Stretch = 1, Right = 2 };
    void add(HWND dialog, int id, Anchor horizontal, Anchor vertical);
    void apply(HWND dialog) const;
    SIZE minimum() const { return m_minimum; }

private:
    struct Item {
        int id;
        Anchor horizontal;
        Anchor vertical;
        RECT home;
    };
    std::vector<Item> m_items;
    SIZE m_client{};
    SIZE m_minimum{};
};

class OpenFilesWindow final : public Dialog {
public:
    // `closeFile` closes one file of the list (an empty file when none is selected: the close
    // answers as the main window does).
    OpenFilesWindow(std::function<void(const NetFileInfo&)> closeFile, LayoutFile layout = {});
    ~OpenFilesWindow() override;

    void setSnapshot(const SessionsSnapshot& snapshot);
    // "Close resource" on the selected file.
    void closeSelected();
    std::function<void(bool shown)> onShownChanged;

    HWND filterBox() const { return item(IDC_FILES_FILTER); }
    HWND listView() const { return item(IDC_ALL_FILES); }
    HWND statusLabel() const { return item(IDC_FILES_STATUS); }
    ListColumns& columns() { return m_columns; }
    // The file of a row of the list.
    const NetFileInfo& fileOfRow(int row) const { return m_files[m_rows[static_cast<std::size_t>(row)]]; }

private:
    bool onInit() override;
    bool onMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& answer) override;
    // The list again from m_files: filtered, sorted, the selected file selected again.
    void rebuild();
    std::optional<std::size_t> selectedFile() const;

    std::function<void(const NetFileInfo&)> m_closeFile;
    std::vector<NetFileInfo> m_files;
    std::vector<std::size_t> m_rows;  // the file of each row
    bool m_listed = false;
    std::string m_error;
    std::string m_filter;
    ListColumns m_columns;
    EdgeLayout m_layout;
    LayoutFile m_kept;
    HMENU m_menus = nullptr;
};

class SharesWindow final : public Dialog {
public:
    explicit SharesWindow(LayoutFile layout = {});
    void setSnapshot(const SessionsSnapshot& snapshot);
    std::function<void(bool shown)> onShownChanged;

    HWND listView() const { return item(IDC_SHARES_LIST); }
    ListColumns& columns() { return m_columns; }

private:
    bool onInit() override;
    bool onMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& answer) override;
    void rebuild();

    std::vector<ShareUse> m_shares;
    ListColumns m_columns;
    EdgeLayout m_layout;
    LayoutFile m_kept;
};

}  // namespace vantor::win
