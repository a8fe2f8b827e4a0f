#include "win/WinMessageBoxes.h"

#include "win/WinUi.h"

namespace vantor::win {

BoxAnswer WinMessageBoxes::show(const BoxRequest& request)
{
    UINT type = 0;
    switch (request.icon) {
    case BoxIcon::None:
        break;
    case BoxIcon::Information:
        type |= MB_ICONINFORMATION;
        break;
    case BoxIcon::Warning:
        type |= MB_ICONWARNING;
        break;
    case BoxIcon::Error:
        type |= MB_ICONERROR;
        break;
    }
    switch (request.buttons) {
    case BoxButtons::Ok:
        type |= MB_OK;
        break;
    case BoxButtons::OkCancel:
        type |= MB_OKCANCEL;
        break;
    case BoxButtons::YesNo:
        type |= MB_YESNO;
        break;
    }
    HWND owner = request.owner ? static_cast<HWND>(request.owner) : m_main;
    if (owner && !IsWindow(owner))
        owner = nullptr;
    // A hidden main window would own a box nobody sees in the task bar: the box stands alone then.
    if (owner && !IsWindowVisible(owner))
        owner = nullptr;
    if (!owner)
        type |= MB_SETFOREGROUND | MB_TOPMOST;
    switch (MessageBoxW(owner, wide(request.text).c_str(), wide(request.caption).c_str(), type)) {
    case IDCANCEL:
        return BoxAnswer::Cancel;
    case IDYES:
        return BoxAnswer::Yes;
    case IDNO:
        return BoxAnswer::No;
    default:
        return BoxAnswer::Ok;
    }
}

}  // namespace vantor::win
