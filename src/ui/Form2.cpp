#include "ui/Form2.h"

#include "sync/SyncLog.h"
#include "ui/LogBox.h"
#include "ui/Twips.h"

#include <QPlainTextEdit>
#include <QScreen>
#include <QScrollBar>
#include <QShortcut>
#include <QStyle>

namespace corvane {

namespace {

// The window opens this many characters wide where the screen has room, and no narrower than the minimum
// beside the main window.
constexpr int kLineChars = 110;
constexpr int kMinimumWidth = 360;

} // namespace

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
    m_feed = new LogBoxFeed(*Text1, LogBoxEdit::Whole);
    auto* closeKey = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(closeKey, &QShortcut::activated, this, &QWidget::close);
    Form_Resize();
}

void Form2::clearLines() {
    m_feed->clear();
    Text1->clear();
}

void Form2::appendLines(const LogLines& lines) {
    if (lines.isEmpty())
        return;
    // A pass of a synchroniser writing megabytes a second brings thousands of lines: they go into the box a
    // slice at a time.
    m_feed->append(lines.size() > kSyncLogLines ? lines.mid(lines.size() - kSyncLogLines) : lines);
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

// Beside the main window, not over it: to its right where the screen has room, else to its left, else
// below it; wide enough for a usual line of the synchroniser's log.
void Form2::placeBeside(const QWidget& mainWindow) {
    const QRect screen =
        mainWindow.screen() ? mainWindow.screen()->availableGeometry() : QRect(0, 0, 1920, 1080);
    const QRect main = mainWindow.frameGeometry();
    const int frame = std::max(0, main.width() - mainWindow.width()); // both side borders of a window
    const int wanted =
        fontMetrics().averageCharWidth() * kLineChars + style()->pixelMetric(QStyle::PM_ScrollBarExtent);
    const int enough = std::min(wanted, kMinimumWidth);
    const int rightRoom = screen.right() - main.right() - frame;
    const int leftRoom = main.left() - screen.left() - frame;
    const int height = std::min(main.height(), screen.height());
    if (rightRoom >= enough) {
        resize(std::min(wanted, rightRoom), height);
        move(main.right() + 1, main.top());
    } else if (leftRoom >= enough) {
        const int width = std::min(wanted, leftRoom);
        resize(width, height);
        move(main.left() - width - frame, main.top());
    } else {
        resize(std::min(wanted, screen.width() - frame), this->height());
        move(main.left(), std::min(main.bottom() + 1, screen.bottom() - this->height() - frame));
    }
}

} // namespace corvane
