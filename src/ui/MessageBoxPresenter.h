#pragma once

#include "session/MessagePresenter.h"

class QWidget;

namespace corvane {

// The real thing: a modal message box with one OK button.
class MessageBoxPresenter : public MessagePresenter {
public:
    explicit MessageBoxPresenter(QWidget* parent = nullptr)
        : m_parent(parent) {}
    void setParent(QWidget* parent) { m_parent = parent; }
    void show(const QString& text, const QString& title, Icon icon) override;
    bool offer(const QString& text, const QString& title, const QString& action) override;
    PreviewAnswer confirmAction(const ActionReport& preview) override;

private:
    QWidget* m_parent;
};

} // namespace corvane
