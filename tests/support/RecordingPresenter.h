#pragma once

#include "actions/TaskActions.h"
#include "session/MessagePresenter.h"

#include <QStringList>

#include <functional>

namespace corvane::test {

// Answers every message at once, as a technician clicking OK, and records it; `whileOpen` runs as if the
// technician took a while to read. Offers are taken when `takeOffer`; previews are answered with `answer`.
class RecordingPresenter : public MessagePresenter {
public:
    struct Shown {
        QString text;
        QString title;
        Icon icon;
    };
    QList<Shown> shown;
    std::function<void()> whileOpen;
    QStringList offered; // messages that offered an action
    bool takeOffer = false;
    QList<ActionReport> previews;
    PreviewAnswer answer;
    std::function<void()> beforeAnswer; // runs while the preview is open

    void show(const QString& text, const QString& title, Icon icon) override {
        shown.append({text, title, icon});
        if (whileOpen)
            whileOpen();
    }
    bool offer(const QString& text, const QString&, const QString&) override {
        offered << text;
        return takeOffer;
    }
    PreviewAnswer confirmAction(const ActionReport& preview) override {
        previews.append(preview);
        if (beforeAnswer)
            beforeAnswer();
        return answer;
    }
    QStringList texts() const {
        QStringList result;
        for (const Shown& message : shown)
            result << message.text;
        return result;
    }
};

} // namespace corvane::test
