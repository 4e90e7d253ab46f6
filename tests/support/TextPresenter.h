#pragma once

#include "MessagePresenter.h"

#include <QStringList>

namespace corvane::test {

// Answers every message at once, as a technician clicking OK, and keeps its text.
class TextPresenter : public MessagePresenter {
public:
    QStringList texts;
    void show(const QString& text, const QString&, Icon) override { texts << text; }
};

} // namespace corvane::test
