#include "ui/LogSearchBar.h"

#include <QApplication>
#include <QFocusEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTextBlock>
#include <QTextDocument>
#include <QToolButton>

namespace corvane {

namespace {
// A log box holds at most 10,000 lines; the highlighting stops at this many matches.
constexpr int kMaxHighlighted = 2000;
const QColor kMatchColour(255, 230, 120);
} // namespace

LogSearchBar::LogSearchBar(QPlainTextEdit* box, QWidget* parent)
    : QWidget(parent)
    , m_box(box) {
    setObjectName(QStringLiteral("LogSearchBar"));
    auto* caption = new QLabel(QStringLiteral("Fi&nd in the log:"), this);
    m_field = new QLineEdit(this);
    m_field->setObjectName(QStringLiteral("LogSearchField"));
    m_field->setAccessibleName(QStringLiteral("Find in the log"));
    caption->setBuddy(m_field);
    m_count = new QLabel(this);
    m_count->setObjectName(QStringLiteral("LogSearchCount"));
    auto* previous = new QToolButton(this);
    previous->setText(QStringLiteral("Previous"));
    previous->setToolTip(QStringLiteral("Previous match (Shift+F3)"));
    auto* next = new QToolButton(this);
    next->setText(QStringLiteral("Next"));
    next->setToolTip(QStringLiteral("Next match (F3, Enter)"));
    auto* closeButton = new QToolButton(this);
    closeButton->setText(QStringLiteral("x"));
    closeButton->setToolTip(QStringLiteral("Close the search (Escape)"));
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 2);
    layout->setSpacing(4);
    layout->addWidget(caption);
    layout->addWidget(m_field, 1);
    layout->addWidget(m_count);
    layout->addWidget(previous);
    layout->addWidget(next);
    layout->addWidget(closeButton);
    connect(m_field, &QLineEdit::textChanged, this, [this] {
        highlight();
        // Typing moves to the first match from where the search began.
        QTextCursor cursor = m_box->textCursor();
        cursor.setPosition(cursor.selectionStart());
        m_box->setTextCursor(cursor);
        findNext();
    });
    connect(previous, &QToolButton::clicked, this, [this] { findNext(true); });
    connect(next, &QToolButton::clicked, this, [this] { findNext(false); });
    connect(closeButton, &QToolButton::clicked, this, &LogSearchBar::close);
    // New lines of the log may hold matches too.
    connect(m_box->document(), &QTextDocument::contentsChanged, this, [this] {
        if (isVisible())
            highlight();
    });
    m_field->installEventFilter(this);
    m_box->installEventFilter(this);
    m_box->viewport()->installEventFilter(this); // a click into the box that already has the focus
    hide();
}

bool LogSearchBar::isWanted() const {
    return (m_box->hasFocus() && m_boxChosen) || isAncestorOf(QApplication::focusWidget());
}

void LogSearchBar::activate() {
    // The search starts from what the technician sees: a box that follows the log keeps its cursor at the
    // top, far above the lines in view.
    const QRect cursorPlace = m_box->cursorRect();
    if (!m_box->viewport()->rect().intersects(cursorPlace))
        m_box->setTextCursor(m_box->cursorForPosition(QPoint(0, 0)));
    show();
    m_field->setFocus();
    m_field->selectAll();
    highlight();
}

void LogSearchBar::close() {
    hide();
    m_box->setExtraSelections({});
    m_box->setFocus(Qt::ShortcutFocusReason);
}

bool LogSearchBar::findNext(bool backwards) {
    const QString text = m_field->text();
    if (text.isEmpty())
        return false;
    const QTextDocument::FindFlags flags =
        backwards ? QTextDocument::FindBackward : QTextDocument::FindFlags();
    const QTextDocument* document = m_box->document();
    QTextCursor found = document->find(text, m_box->textCursor(), flags);
    if (found.isNull()) // round from the other end
        found = document->find(text, backwards ? document->characterCount() - 1 : 0, flags);
    if (found.isNull())
        return false;
    m_box->setTextCursor(found);
    return true;
}

void LogSearchBar::highlight() {
    QList<QTextEdit::ExtraSelection> selections;
    const QString text = m_field->text();
    m_matches = 0;
    if (!text.isEmpty()) {
        QTextCursor found = m_box->document()->find(text);
        while (!found.isNull()) {
            ++m_matches;
            if (selections.size() < kMaxHighlighted) {
                QTextEdit::ExtraSelection selection;
                selection.cursor = found;
                selection.format.setBackground(kMatchColour);
                selections << selection;
            }
            found = m_box->document()->find(text, found);
        }
    }
    m_box->setExtraSelections(selections);
    m_count->setText(text.isEmpty()   ? QString()
                     : m_matches == 1 ? QStringLiteral("1 match")
                                      : QStringLiteral("%1 matches").arg(m_matches));
}

bool LogSearchBar::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_box && event->type() == QEvent::FocusIn) {
        const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
        m_boxChosen = reason == Qt::MouseFocusReason || reason == Qt::TabFocusReason ||
                      reason == Qt::BacktabFocusReason || reason == Qt::ShortcutFocusReason;
        return false;
    }
    if (watched == m_box->viewport() && event->type() == QEvent::MouseButtonPress) {
        m_boxChosen = true;
        return false;
    }
    if (watched == m_field && event->type() == QEvent::ShortcutOverride &&
        static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
        event->accept(); // the field's Escape, not the window's
        return true;
    }
    if (watched == m_field && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        const bool backwards = key->modifiers() & Qt::ShiftModifier;
        switch (key->key()) {
        case Qt::Key_Escape:
            close();
            return true;
        case Qt::Key_Return:
        case Qt::Key_Enter:
        case Qt::Key_F3:
            findNext(backwards);
            return true;
        default:
            break;
        }
    }
    return QWidget::eventFilter(watched, event);
}

} // namespace corvane
