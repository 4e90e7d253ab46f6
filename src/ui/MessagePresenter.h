#pragma once

#include <QString>

class QWidget;

namespace corvane {

// Shows modal messages. The window talks to this interface only, so a test can answer and record them.
class MessagePresenter {
public:
    enum class Icon { None, Critical };
    virtual ~MessagePresenter() = default;
    // Returns once the technician has acknowledged the message.
    virtual void show(const QString& text, const QString& title, Icon icon) = 0;
};

// The real thing: a modal message box with one OK button.
class MessageBoxPresenter : public MessagePresenter {
public:
    explicit MessageBoxPresenter(QWidget* parent = nullptr)
        : m_parent(parent) {}
    void setParent(QWidget* parent) { m_parent = parent; }
    void show(const QString& text, const QString& title, Icon icon) override;

private:
    QWidget* m_parent;
};

} // namespace corvane
