#include "win/WinUi.h"

namespace vantor::win {

std::wstring wide(std::string_view text)
{
    if (text.empty())
        return {};
    const int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring out(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n);
    return out;
}

std::string utf8(std::wstring_view text)
{
    if (text.empty())
        return {};
    const int n =
        WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n, nullptr, nullptr);
    return out;
}

std::string windowText(HWND window)
{
    const int length = GetWindowTextLengthW(window);
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    const int got = GetWindowTextW(window, text.data(), length + 1);
    text.resize(static_cast<std::size_t>(got > 0 ? got : 0));
    return utf8(text);
}

void setWindowText(HWND window, std::string_view text)
{
    SetWindowTextW(window, wide(text).c_str());
}

HINSTANCE resources()
{
    return GetModuleHandleW(nullptr);
}

// --- dialogs ------------------------------------------------------------------------------------

Dialog::~Dialog()
{
    if (m_hwnd && !m_modal)
        DestroyWindow(m_hwnd);
}

INT_PTR Dialog::runModal(HWND owner)
{
    m_modal = true;
    m_result.reset();
    return DialogBoxParamW(resources(), MAKEINTRESOURCEW(m_template), owner, &Dialog::proc,
                           reinterpret_cast<LPARAM>(this));
}

HWND Dialog::create(HWND owner)
{
    m_modal = false;
    m_result.reset();
    return CreateDialogParamW(resources(), MAKEINTRESOURCEW(m_template), owner, &Dialog::proc,
                              reinterpret_cast<LPARAM>(this));
}

void Dialog::end(INT_PTR result)
{
    m_result = result;
    if (m_modal)
        EndDialog(m_hwnd, result);
    else
        ShowWindow(m_hwnd, SW_HIDE);
}

INT_PTR CALLBACK Dialog::proc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    Dialog* self = nullptr;
    if (message == WM_INITDIALOG) {
        self = reinterpret_cast<Dialog*>(lParam);
        SetWindowLongPtrW(hwnd, DWLP_USER, lParam);
        self->m_hwnd = hwnd;
        return self->onInit() ? TRUE : FALSE;
    }
    self = reinterpret_cast<Dialog*>(GetWindowLongPtrW(hwnd, DWLP_USER));
    if (!self)
        return FALSE;
    if (message == WM_NCDESTROY) {
        self->m_hwnd = nullptr;
        return FALSE;
    }
    LRESULT answer = 0;
    if (!self->onMessage(message, wParam, lParam, answer))
        return FALSE;
    // Messages whose answer is the procedure's own return value; the rest answer through DWLP_MSGRESULT.
    switch (message) {
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORSCROLLBAR:
        return static_cast<INT_PTR>(answer);
    default:
        SetWindowLongPtrW(hwnd, DWLP_MSGRESULT, answer);
        return TRUE;
    }
}

HWND ChildDialog::create(HWND parent)
{
    return CreateDialogParamW(resources(), MAKEINTRESOURCEW(m_template), parent, &ChildDialog::proc,
                              reinterpret_cast<LPARAM>(this));
}

INT_PTR CALLBACK ChildDialog::proc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_INITDIALOG) {
        auto* self = reinterpret_cast<ChildDialog*>(lParam);
        SetWindowLongPtrW(hwnd, DWLP_USER, lParam);
        self->m_hwnd = hwnd;
        self->onInit();
        return FALSE;
    }
    auto* self = reinterpret_cast<ChildDialog*>(GetWindowLongPtrW(hwnd, DWLP_USER));
    if (!self)
        return FALSE;
    if (message == WM_NCDESTROY) {
        self->m_hwnd = nullptr;
        return FALSE;
    }
    return self->onMessage(message, wParam, lParam) ? TRUE : FALSE;
}

// --- list views ---------------------------------------------------------------------------------

namespace list {

void addColumn(HWND view, int index, const char* heading, int width, int format)
{
    std::wstring text = wide(heading);
    LVCOLUMNW c{};
    c.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_FMT | LVCF_SUBITEM;
    c.fmt = format;
    c.cx = width;
    c.pszText = text.data();
    c.iSubItem = index;
    ListView_InsertColumn(view, index, &c);
}

int insertRow(HWND view, int index, std::string_view text, int image, LPARAM data)
{
    std::wstring w = wide(text);
    LVITEMW item{};
    item.mask = LVIF_TEXT | LVIF_IMAGE | LVIF_PARAM;
    item.iItem = index;
    item.pszText = w.data();
    item.iImage = image;
    item.lParam = data;
    return static_cast<int>(SendMessageW(view, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item)));
}

void setCell(HWND view, int row, int column, std::string_view text)
{
    std::wstring w = wide(text);
    LVITEMW item{};
    item.iSubItem = column;
    item.pszText = w.data();
    SendMessageW(view, LVM_SETITEMTEXTW, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
}

std::string cell(HWND view, int row, int column)
{
    std::wstring buffer(1024, L'\0');
    LVITEMW item{};
    item.iSubItem = column;
    item.pszText = buffer.data();
    item.cchTextMax = static_cast<int>(buffer.size());
    const auto n = SendMessageW(view, LVM_GETITEMTEXTW, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
    buffer.resize(static_cast<std::size_t>(n));
    return utf8(buffer);
}

int rowCount(HWND view)
{
    return ListView_GetItemCount(view);
}

std::optional<int> selected(HWND view)
{
    const int row = ListView_GetNextItem(view, -1, LVNI_SELECTED);
    return row < 0 ? std::nullopt : std::optional<int>(row);
}

void select(HWND view, std::optional<int> row)
{
    ListView_SetItemState(view, -1, 0, LVIS_SELECTED | LVIS_FOCUSED);
    if (row && *row >= 0 && *row < rowCount(view)) {
        ListView_SetItemState(view, *row, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
        ListView_EnsureVisible(view, *row, FALSE);
    }
}

LPARAM data(HWND view, int row)
{
    LVITEMW item{};
    item.mask = LVIF_PARAM;
    item.iItem = row;
    SendMessageW(view, LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item));
    return item.lParam;
}

void setColours(HWND view, COLORREF colour)
{
    ListView_SetBkColor(view, colour);
    ListView_SetTextBkColor(view, colour);
}

void setFullRow(HWND view)
{
    ListView_SetExtendedListViewStyleEx(view, LVS_EX_FULLROWSELECT, LVS_EX_FULLROWSELECT);
}

void setHeaderImage(HWND view, int column, int image)
{
    HWND header = ListView_GetHeader(view);
    HDITEMW h{};
    h.mask = HDI_FORMAT;
    Header_GetItem(header, column, &h);
    h.mask = HDI_FORMAT | HDI_IMAGE;
    h.fmt |= HDF_IMAGE;
    h.iImage = image;
    Header_SetItem(header, column, &h);
}

}  // namespace list

HIMAGELIST bitmapList(int size, std::initializer_list<int> bitmaps, std::initializer_list<COLORREF> transparent)
{
    HIMAGELIST images = ImageList_Create(size, size, ILC_COLOR24 | ILC_MASK, static_cast<int>(bitmaps.size()), 4);
    auto colour = transparent.begin();
    for (int id : bitmaps) {
        HBITMAP bitmap = static_cast<HBITMAP>(
            LoadImageW(resources(), MAKEINTRESOURCEW(id), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
        ImageList_AddMasked(images, bitmap, colour != transparent.end() ? *colour : RGB(255, 255, 255));
        DeleteObject(bitmap);
        if (colour != transparent.end() && std::next(colour) != transparent.end())
            ++colour;
    }
    return images;
}

HICON icon(int id, int size)
{
    return static_cast<HICON>(LoadImageW(resources(), MAKEINTRESOURCEW(id), IMAGE_ICON, size, size, 0));
}

HWND addTooltips(HWND dialog, std::initializer_list<std::pair<int, const char*>> tips)
{
    HWND tip =
        CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX, CW_USEDEFAULT,
                        CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, dialog, nullptr, resources(), nullptr);
    for (const auto& [id, text] : tips) {
        std::wstring w = wide(text);
        TOOLINFOW info{};
        info.cbSize = sizeof(info);
        info.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
        info.hwnd = dialog;
        info.uId = reinterpret_cast<UINT_PTR>(GetDlgItem(dialog, id));
        info.lpszText = w.data();
        SendMessageW(tip, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&info));
    }
    return tip;
}

}  // namespace vantor::win
