#pragma once
// The core's message boxes as MessageBoxW, owned by the window the core names (or the main window).

#include "platform/MessageBoxes.h"

#include <windows.h>

namespace vantor::win {

class WinMessageBoxes final : public MessageBoxes {
public:
    BoxAnswer show(const BoxRequest& request) override;
    // The owner of boxes that name none: the main window once it exists.
    void setMainWindow(HWND window) { m_main = window; }

private:
    HWND m_main = nullptr;
};

}  // namespace vantor::win
