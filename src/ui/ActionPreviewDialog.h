#pragma once

#include "TaskActions.h"

#include <QDialog>

class QCheckBox;

namespace corvane {

// What Stop Install or Reinstall is about to do: each checked task, what changes for it or why it is
// refused, and OK or Cancel. "Don't ask again" lets the actions go on without it from then on.
class ActionPreviewDialog : public QDialog {
    Q_OBJECT

public:
    explicit ActionPreviewDialog(const ActionReport& preview, QWidget* parent = nullptr);
    bool dontAskAgain() const;

private:
    QCheckBox* m_dontAskAgain = nullptr;
};

} // namespace corvane
