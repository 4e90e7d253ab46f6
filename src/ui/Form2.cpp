#include "ui/Form2.h"

#include "sync/SyncLog.h"
#include "ui/LogBox.h"
#include "ui/Twips.h"

#include <QPlainTextEdit>
#include <QScrollBar>
#include <QShortcut>

namespace corvane {

Form2::Form2(QWidget* parent)
    : QWidget(parent, Qt::Window) {
    setObjectName(QStringLiteral("Form2"));
    setWindowTitle(QStringLiteral("Policy Sync log"));
    resize(twips(7800), twips(3720));
    Text1 = new QPlainTextEdit(this);
    Text1->setObjectName(QStringLiteral("Text1"));
    Text1->setReadOnly(true);
    Text1->setLineWrapMode(QPlainTextEdit::NoWrap);
    Text1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Text1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    // A synchroniser may write megabytes a second: the box never holds more than its last lines.
    Text1->setMaximumBlockCount(kSyncLogLines);
    Text1->setAccessibleName(QStringLiteral("Synchroniser log"));
    m_feed = new LogBoxFeed(*Text1);
    auto* closeKey = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(closeKey, &QShortcut::activated, this, &QWidget::close);
    Form_Resize();
}

void Form2::clearLines() {
    m_feed->clear();
    Text1->clear();
}

void Form2::appendLines(const QStringList& lines) {
    if (lines.isEmpty())
        return;
    // A pass of a synchroniser writing megabytes a second brings thousands of lines: they go into the box a
    // slice at a time.
    m_feed->append(lines.mid(std::max<qsizetype>(0, lines.size() - kSyncLogLines)));
    Text1->verticalScrollBar()->setValue(Text1->verticalScrollBar()->maximum());
}

QString Form2::text() const {
    m_feed->flush();
    const QString text = Text1->toPlainText();
    return text.isEmpty() ? text : text + QLatin1Char('\n');
}

void Form2::closeEvent(QCloseEvent* event) {
    QWidget::closeEvent(event);
    emit closed();
}

void Form2::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    Form_Resize();
}

// The box covers the client area and one pixel past its right and bottom edges, and is never given a size
// below zero (a minimised window may report one).
void Form2::Form_Resize() {
    Text1->setGeometry(0, 0, std::max(0, width() + 1), std::max(0, height() + 1));
}

} // namespace corvane
