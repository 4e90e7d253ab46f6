#pragma once

#include "ui/Form1.h"

#include <QLabel>
#include <QPushButton>
#include <QTest>

namespace corvane::test {

// Clicks Stop Install or Reinstall and waits until the action has run off the interface thread and its
// summary shows in the status line. False when it did not end in time.
inline bool clickAction(Form1& form, const QString& button, int timeoutMs = 20000) {
    auto* status = form.findChild<QLabel*>(QStringLiteral("StatusPanel2"));
    form.setStatus(QString());
    form.findChild<QPushButton*>(button)->click();
    return QTest::qWaitFor(
        [status] {
            return status->text().startsWith(QLatin1String("Stop Install:")) ||
                   status->text().startsWith(QLatin1String("Reinstall:"));
        },
        timeoutMs);
}

} // namespace corvane::test
