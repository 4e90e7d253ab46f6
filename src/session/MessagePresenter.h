#pragma once

#include <QString>

namespace corvane {

struct ActionReport;

// Shows modal messages and asks the technician. The session and the window talk to this interface only, so a
// test can answer and record them; the window implements it with message boxes.
class MessagePresenter {
public:
    enum class Icon { None, Critical };
    virtual ~MessagePresenter() = default;
    // Returns once the technician has acknowledged the message.
    virtual void show(const QString& text, const QString& title, Icon icon) = 0;

    // A message that offers one action beside OK; true when the technician chose it. Unless a presenter
    // offers it, the message is shown and the action not taken.
    virtual bool offer(const QString& text, const QString& title, const QString& /*action*/) {
        show(text, title, Icon::None);
        return false;
    }

    struct PreviewAnswer {
        bool accepted = true;
        bool dontAskAgain = false;
        bool retry = false; // read the agent database again and show a new preview
    };
    // Shows what an action is about to change and asks to go on. Unless a presenter shows it, the action
    // goes on unasked.
    virtual PreviewAnswer confirmAction(const ActionReport& preview) {
        Q_UNUSED(preview);
        return {};
    }
};

} // namespace corvane
