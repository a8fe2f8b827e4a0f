#pragma once
// The bar between the main window's two tables: the user drags it up and down, it draws itself
// where it is dragged, and tells its parent how far it now lies from where it started, within
// `maxUp` pixels up and `maxDown` pixels down from the middle of its first place.

#include <windows.h>

namespace vantor::win {

class SplitterBar {
public:
    // The parent hears WM_COMMAND with the bar's id and this code after every move.
    static constexpr WORD movedCode = 1;

    SplitterBar(int maxUp, int maxDown)
        : m_maxUp(maxUp)
        , m_maxDown(maxDown)
    {
    }
    // Made over `place` (parent client coordinates): as wide as it, `thickness` high, its top
    // `inset` pixels below the place's top.
    HWND create(HWND parent, int id, RECT place, int inset, int thickness);
    HWND hwnd() const { return m_hwnd; }
    // Pixels below the first place (negative: above); always within the limits.
    int offset() const { return m_offset; }
    // Moves the bar by `delta` pixels, held to the limits, and tells the parent.
    void moveBy(int delta);

private:
    static LRESULT CALLBACK proc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    void place();

    int m_maxUp;
    int m_maxDown;
    HWND m_hwnd = nullptr;
    int m_id = 0;
    RECT m_home{};
    int m_offset = 0;
    bool m_dragging = false;
    int m_grabY = 0;  // the pointer's parent y at the press, less the offset then
};

}  // namespace vantor::win
