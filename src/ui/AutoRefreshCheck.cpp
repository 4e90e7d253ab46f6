#include "ui/AutoRefreshCheck.h"

namespace corvane {

AutoRefreshCheck::AutoRefreshCheck(const QString& text, QWidget* parent)
    : QCheckBox(text, parent) {
    // An action's or a sync's end ticks "Auto" again; with no database that would leave it ticked and
    // disabled, a look that says nothing true.
    connect(this, &QAbstractButton::toggled, this, [this](bool on) {
        if (on && m_databaseMissing)
            setChecked(false);
    });
}

void AutoRefreshCheck::setDatabaseMissing(bool missing) {
    m_databaseMissing = missing;
    setEnabled(!missing);
    setChecked(!missing);
}

} // namespace corvane
