#include "win/SplitterBar.h"

#include <algorithm>

namespace vantor::win {

namespace {
const wchar_t* const barClass = L"VantorSplitterBar";
}

HWND SplitterBar::create(HWND parent, int id, RECT place, int inset, int thickness)
{
    WNDCLASSW wc{};
    wc.lpfnWndProc = &SplitterBar::proc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.hCursor = LoadCursorW(nullptr, IDC_SIZENS);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_3DFACE + 1);
    wc.lpszClassName = barClass;
    RegisterClassW(&wc);
    m_id = id;
    m_home = {place.left, place.top + inset, place.right, place.top + inset + thickness};
    m_hwnd =
        CreateWindowExW(0, barClass, L"", WS_CHILD | WS_VISIBLE, m_home.left, m_home.top, m_home.right - m_home.left,
                        thickness, parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), wc.hInstance, this);
    return m_hwnd;
}

void SplitterBar::moveBy(int delta)
{
    const int next = std::clamp(m_offset + delta, -m_maxUp, m_maxDown);
    if (next == m_offset)
        return;
    m_offset = next;
    place();
    SendMessageW(GetParent(m_hwnd), WM_COMMAND, MAKEWPARAM(m_id, movedCode), reinterpret_cast<LPARAM>(m_hwnd));
}

void SplitterBar::place()
{
    SetWindowPos(m_hwnd, HWND_TOP, m_home.left, m_home.top + m_offset, 0, 0, SWP_NOSIZE | SWP_NOACTIVATE);
    RedrawWindow(m_hwnd, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
}

LRESULT CALLBACK SplitterBar::proc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_NCCREATE)
        SetWindowLongPtrW(hwnd, GWLP_USERDATA,
                          reinterpret_cast<LONG_PTR>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams));
    auto* self = reinterpret_cast<SplitterBar*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (!self)
        return DefWindowProcW(hwnd, message, wParam, lParam);
    auto parentY = [hwnd](LPARAM lp) {
        POINT p{static_cast<short>(LOWORD(lp)), static_cast<short>(HIWORD(lp))};
        MapWindowPoints(hwnd, GetParent(hwnd), &p, 1);
        return static_cast<int>(p.y);
    };
    switch (message) {
    case WM_LBUTTONDOWN:
        SetCapture(hwnd);
        self->m_dragging = true;
        self->m_grabY = parentY(lParam) - self->m_offset;
        return 0;
    case WM_MOUSEMOVE:
        if (self->m_dragging)
            self->moveBy(parentY(lParam) - self->m_grabY - self->m_offset);
        return 0;
    case WM_LBUTTONUP:
    case WM_CAPTURECHANGED:
        if (self->m_dragging) {
            self->m_dragging = false;
            if (message == WM_LBUTTONUP)
                ReleaseCapture();
        }
        return 0;
    case WM_PAINT: {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(hwnd, &ps);
        RECT r;
        GetClientRect(hwnd, &r);
        FillRect(dc, &r, GetSysColorBrush(COLOR_3DFACE));
        DrawEdge(dc, &r, BDR_RAISEDINNER, BF_TOP | BF_BOTTOM);
        EndPaint(hwnd, &ps);
        return 0;
    }
    default:
        return DefWindowProcW(hwnd, message, wParam, lParam);
    }
}

}  // namespace vantor::win
