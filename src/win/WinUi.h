#pragma once
// Small pieces every window of the Windows program uses: UTF-8 and UTF-16, dialog windows that run
// modally for the user and modelessly for the tests, list views, pictures and tooltips.

#include <windows.h>
#include <commctrl.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vantor::win {

// The program's UTF-8 for a wide call; bytes that are not UTF-8 become U+FFFD.
std::wstring wide(std::string_view text);
std::string utf8(std::wstring_view text);

std::string windowText(HWND window);
void setWindowText(HWND window, std::string_view text);
inline std::string itemText(HWND dialog, int id)
{
    return windowText(GetDlgItem(dialog, id));
}
inline void setItemText(HWND dialog, int id, std::string_view text)
{
    setWindowText(GetDlgItem(dialog, id), text);
}
inline bool checked(HWND dialog, int id)
{
    return IsDlgButtonChecked(dialog, id) == BST_CHECKED;
}
inline void setChecked(HWND dialog, int id, bool on)
{
    CheckDlgButton(dialog, id, on ? BST_CHECKED : BST_UNCHECKED);
}

// The module that holds the resources: the program, or the test program that links them.
HINSTANCE resources();

// A window of a dialog template. The program runs it modally (runModal); tests create it
// modelessly (create), drive it with its messages, and read the result it ended with.
class Dialog {
public:
    explicit Dialog(int templateId)
        : m_template(templateId)
    {
    }
    virtual ~Dialog();
    Dialog(const Dialog&) = delete;
    Dialog& operator=(const Dialog&) = delete;

    INT_PTR runModal(HWND owner);
    HWND create(HWND owner);
    HWND hwnd() const { return m_hwnd; }
    // What end() was given (modeless windows too); nullopt while it is open.
    std::optional<INT_PTR> result() const { return m_result; }
    bool modal() const { return m_modal; }

protected:
    // Ends the window: EndDialog when modal, hidden when modeless (the test destroys it).
    void end(INT_PTR result);
    virtual bool onInit() { return true; }
    // Returns true when the message was handled (and sets the dialog's result through `answer`).
    virtual bool onMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& answer) = 0;
    HWND item(int id) const { return GetDlgItem(m_hwnd, id); }

private:
    static INT_PTR CALLBACK proc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    int m_template;
    HWND m_hwnd = nullptr;
    bool m_modal = false;
    std::optional<INT_PTR> m_result;
};

// A child dialog (an Options page): created inside its parent, lives as long as it.
class ChildDialog {
public:
    explicit ChildDialog(int templateId)
        : m_template(templateId)
    {
    }
    virtual ~ChildDialog() = default;
    HWND create(HWND parent);
    HWND hwnd() const { return m_hwnd; }

protected:
    virtual void onInit() { }
    virtual bool onMessage(UINT message, WPARAM wParam, LPARAM lParam) = 0;
    HWND item(int id) const { return GetDlgItem(m_hwnd, id); }

private:
    static INT_PTR CALLBACK proc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    int m_template;
    HWND m_hwnd = nullptr;
};

// --- list views ---------------------------------------------------------------------------------
namespace list {
void addColumn(HWND view, int index, const char* heading, int width, int format = LVCFMT_LEFT);
// Inserts a row at `index` with its first cell, picture and item data; returns its index.
int insertRow(HWND view, int index, std::string_view text, int image, LPARAM data = 0);
void setCell(HWND view, int row, int column, std::string_view text);
std::string cell(HWND view, int row, int column);
int rowCount(HWND view);
std::optional<int> selected(HWND view);
void select(HWND view, std::optional<int> row);
LPARAM data(HWND view, int row);
// The table's blue, behind the rows and their text.
void setColours(HWND view, COLORREF colour);
// Full-row selection.
void setFullRow(HWND view);
// Gives header item `column` picture `image` of the header's image list.
void setHeaderImage(HWND view, int column, int image);
}  // namespace list

// An image list of bitmap resources with a transparent colour, `size` pixels square.
HIMAGELIST bitmapList(int size, std::initializer_list<int> bitmaps, std::initializer_list<COLORREF> transparent);
HICON icon(int id, int size);

// Tooltips for controls of `dialog`: one tooltip window, each control with its text.
HWND addTooltips(HWND dialog, std::initializer_list<std::pair<int, const char*>> tips);

}  // namespace vantor::win
