#pragma once

#include <QWidget>

class QLabel;
class QLineEdit;

namespace corvane {

// The filter field above the task list, shown with Ctrl+F. While a filter is on the bar stays in view,
// tinted, with the count of the rows it lets through, so a short list is never mistaken for the agent's.
class TaskFilterBar : public QWidget {
    Q_OBJECT

public:
    explicit TaskFilterBar(QWidget* parent = nullptr);

    // Shows the bar and puts the keyboard in its field.
    void activate();
    QString text() const;
    // "shown of total" in the bar.
    void setCounts(int shown, int total);

signals:
    void filterChanged(const QString& text);
    // The technician left the bar with Escape or its close button; the filter is off.
    void closed();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void close();
    void showSign();

    QLineEdit* m_field = nullptr;
    QLabel* m_count = nullptr;
};

} // namespace corvane
