#pragma once

#include "actions/TaskActions.h"

#include <QDialog>

class QCheckBox;

namespace corvane {

// What Stop Install or Reinstall is about to do: each checked task, what changes for it or why it is
// refused, and OK or Cancel; Retry when a task could not be read because the agent held its database. OK is
// off when nothing would change. "Don't ask again" lets the actions go on without it from then on.
class ActionPreviewDialog : public QDialog {
    Q_OBJECT

public:
    // What exec() returns when the technician asks to read the agent database again.
    static constexpr int kRetry = 2;

    explicit ActionPreviewDialog(const ActionReport& preview, QWidget* parent = nullptr);
    bool dontAskAgain() const;

private:
    QCheckBox* m_dontAskAgain = nullptr;
};

} // namespace corvane
