#include "ui/TaskFilterBar.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QToolButton>

namespace corvane {

namespace {
const QColor kFilterOnColour(255, 244, 190);
} // namespace

TaskFilterBar::TaskFilterBar(QWidget* parent)
    : QWidget(parent) {
    setObjectName(QStringLiteral("FilterBar"));
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 3);
    layout->setSpacing(6);

    auto* caption = new QLabel(QStringLiteral("&Filter:"), this);
    m_field = new QLineEdit(this);
    m_field->setObjectName(QStringLiteral("FilterField"));
    m_field->setPlaceholderText(QStringLiteral("Text in any column, task id included"));
    m_field->setAccessibleName(QStringLiteral("Filter the task list"));
    m_field->setClearButtonEnabled(true);
    m_field->installEventFilter(this);
    caption->setBuddy(m_field);

    m_count = new QLabel(this);
    m_count->setObjectName(QStringLiteral("FilterCount"));

    auto* closeButton = new QToolButton(this);
    closeButton->setObjectName(QStringLiteral("FilterClose"));
    closeButton->setText(QStringLiteral("\u00d7"));
    closeButton->setToolTip(QStringLiteral("Turn the filter off (Escape)"));
    closeButton->setAccessibleName(QStringLiteral("Turn the filter off"));
    closeButton->setAutoRaise(true);
    connect(closeButton, &QToolButton::clicked, this, &TaskFilterBar::close);

    layout->addWidget(caption);
    layout->addWidget(m_field, 1);
    layout->addWidget(m_count);
    layout->addWidget(closeButton);

    connect(m_field, &QLineEdit::textChanged, this, [this](const QString& text) {
        showSign();
        emit filterChanged(text);
    });
    hide();
}

void TaskFilterBar::activate() {
    show();
    m_field->setFocus(Qt::ShortcutFocusReason);
    m_field->selectAll();
}

QString TaskFilterBar::text() const {
    return m_field->text();
}

void TaskFilterBar::setCounts(int shown, int total) {
    m_count->setText(text().isEmpty()
                         ? QString()
                         : QStringLiteral("Filter on: %1 of %2 tasks shown").arg(shown).arg(total));
}

void TaskFilterBar::close() {
    m_field->clear();
    hide();
    emit closed();
}

void TaskFilterBar::showSign() {
    QPalette palette = m_field->palette();
    palette.setColor(QPalette::Base, text().isEmpty() ? QPalette().color(QPalette::Base) : kFilterOnColour);
    m_field->setPalette(palette);
}

bool TaskFilterBar::eventFilter(QObject* watched, QEvent* event) {
    // Escape in the field closes the filter, before any Escape of the window (a sync's Cancel).
    if (watched == m_field && event->type() == QEvent::ShortcutOverride &&
        static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
        event->accept();
        return true;
    }
    if (watched == m_field && event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
        close();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

} // namespace corvane
