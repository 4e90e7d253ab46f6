#include "ui/NoticePanel.h"

#include <QChildEvent>
#include <QEvent>

namespace corvane {

namespace {
const QString kEllipsis = QStringLiteral("...");
const QString kSeparator = QStringLiteral("  |  ");
} // namespace

NoticePanel::NoticePanel(int count, QWidget* parent)
    : QLabel(parent) {
    m_slots.resize(count);
    setMinimumWidth(1); // a long text is shortened rather than widen the window
    setFrameStyle(QFrame::Panel | QFrame::Sunken);
    setIndent(2);
}

void NoticePanel::setNotice(int slot, const QString& text) {
    if (m_slots.at(slot) == text)
        return;
    m_slots[slot] = text;
    showNotices();
}

QStringList NoticePanel::notices() const {
    QStringList shown;
    for (const QString& notice : m_slots) {
        if (!notice.isEmpty())
            shown << notice;
    }
    return shown;
}

void NoticePanel::showNotices() {
    const QStringList shown = notices();
    setToolTip(shown.join(QLatin1Char('\n')));
    QString text = shown.join(kSeparator);
    if (shown.size() > 1)
        text = QStringLiteral("%1 notices: ").arg(shown.size()) + text;
    // The room left of whatever sits in the panel (the sync panel), and the indent on both sides.
    int room = contentsRect().width() - 2 * indent();
    for (QObject* child : children()) {
        auto* widget = qobject_cast<QWidget*>(child);
        if (widget && widget->isVisible())
            room = std::min(room, widget->geometry().left() - contentsRect().left() - 2 * indent());
    }
    const QFontMetrics metrics = fontMetrics();
    if (metrics.horizontalAdvance(text) > room) {
        // The longest start of the text that fits with the ellipsis after it.
        int low = 0;
        int high = int(text.size());
        while (low < high) {
            const int middle = (low + high + 1) / 2;
            if (metrics.horizontalAdvance(text.left(middle) + kEllipsis) <= room)
                low = middle;
            else
                high = middle - 1;
        }
        text = text.left(low).trimmed() + kEllipsis;
    }
    if (text != this->text())
        setText(text);
}

void NoticePanel::resizeEvent(QResizeEvent* event) {
    QLabel::resizeEvent(event);
    showNotices();
}

void NoticePanel::childEvent(QChildEvent* event) {
    QLabel::childEvent(event);
    if (event->added() && event->child()->isWidgetType())
        event->child()->installEventFilter(this);
}

bool NoticePanel::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
    case QEvent::Show:
    case QEvent::Hide:
    case QEvent::Move:
    case QEvent::Resize:
        showNotices();
        break;
    default:
        break;
    }
    return QLabel::eventFilter(watched, event);
}

} // namespace corvane
