#pragma once
// Message boxes are asked for through this interface: the core decides the text, caption, icon
// and buttons; the windows show the box (QMessageBox), and tests answer it.

#include <string>
#include <vector>

namespace vantor {

enum class BoxIcon { None, Information, Warning, Error };
enum class BoxButtons { Ok, OkCancel, YesNo };
enum class BoxAnswer { Ok, Cancel, Yes, No };

struct BoxRequest {
    std::string caption;
    std::string text;
    BoxIcon icon = BoxIcon::None;
    BoxButtons buttons = BoxButtons::Ok;
    // Opaque owner handle for the window layer (e.g. the Options window); null = the main window.
    void* owner = nullptr;
};

class MessageBoxes {
public:
    virtual ~MessageBoxes() = default;
    // Shows the box modally and returns the button chosen.
    virtual BoxAnswer show(const BoxRequest& request) = 0;
};

// Records every box and answers from a queue (default: OK / Yes). For tests and headless runs.
class RecordingMessageBoxes final : public MessageBoxes {
public:
    BoxAnswer show(const BoxRequest& request) override
    {
        shown.push_back(request);
        if (answers.empty())
            return request.buttons == BoxButtons::YesNo ? BoxAnswer::Yes : BoxAnswer::Ok;
        BoxAnswer a = answers.front();
        answers.erase(answers.begin());
        return a;
    }
    std::vector<BoxRequest> shown;
    std::vector<BoxAnswer> answers;
};

}  // namespace vantor
