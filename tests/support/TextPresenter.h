#pragma once

#include "actions/TaskActions.h"
#include "session/MessagePresenter.h"

#include <QStringList>

namespace corvane::test {

// Answers every message at once, as a technician clicking OK, and keeps its text; answers every action
// preview with `answer` and keeps the preview.
class TextPresenter : public MessagePresenter {
public:
    QStringList texts;
    QList<ActionReport> previews;
    PreviewAnswer answer;
    void show(const QString& text, const QString&, Icon) override { texts << text; }
    PreviewAnswer confirmAction(const ActionReport& preview) override {
        previews << preview;
        return answer;
    }
};

} // namespace corvane::test
