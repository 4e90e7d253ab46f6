#include "ui/InvokerLogBox.h"

#include "agent/InstallerExitCodes.h"
#include "agent/InvokerLog.h"
#include "ui/LogBox.h"

#include <QCalendarWidget>
#include <QContextMenuEvent>
#include <QDir>
#include <QHelpEvent>
#include <QLabel>
#include <QMenu>
#include <QRegularExpression>
#include <QScrollBar>
#include <QSyntaxHighlighter>
#include <QTextBlock>
#include <QToolTip>

namespace corvane {

namespace {

const QColor kErrorColour(200, 0, 0);
const QColor kWarningColour(176, 96, 0);

// Failures and errors in one colour, warnings in another, whole lines.
class InvokerLogHighlighter : public QSyntaxHighlighter {
public:
    using QSyntaxHighlighter::QSyntaxHighlighter;

protected:
    void highlightBlock(const QString& text) override {
        static const QRegularExpression error(
            QStringLiteral("\\b(?:error|errors|fail|failed|failure|fatal)\\b"),
            QRegularExpression::CaseInsensitiveOption);
        static const QRegularExpression warning(QStringLiteral("\\b(?:warn|warning|warnings)\\b"),
                                                QRegularExpression::CaseInsensitiveOption);
        bool failedCode = false;
        for (const InstallerExitCode& code : installerExitCodesIn(text))
            failedCode = failedCode || code.failed;
        if (failedCode || error.match(text).hasMatch())
            setFormat(0, int(text.size()), kErrorColour);
        else if (warning.match(text).hasMatch())
            setFormat(0, int(text.size()), kWarningColour);
    }
};

} // namespace

InvokerLogBox::InvokerLogBox(const Clock& clock, QWidget* parent)
    : QPlainTextEdit(parent)
    , m_clock(clock) {
    // Until the first read the box is empty, whatever message the window opens with.
    setPlaceholderText(QStringLiteral("Reading..."));
    new InvokerLogHighlighter(document());
    m_sign = new QLabel(this);
    m_sign->setObjectName(QStringLiteral("OnlyTaskSign"));
    m_sign->setAutoFillBackground(true);
    QPalette palette = m_sign->palette();
    palette.setColor(QPalette::Window, QColor(255, 244, 190));
    m_sign->setPalette(palette);
    m_sign->setIndent(4);
    m_sign->setTextFormat(Qt::RichText);
    connect(m_sign, &QLabel::linkActivated, this, [this](const QString& link) {
        if (link == QLatin1String("today"))
            emit dayChosen(QDate());
        else
            setOnlyTask(QString(), QString());
    });
    m_sign->hide();
}

void InvokerLogBox::endReading() {
    setPlaceholderText(QString());
}

bool InvokerLogBox::isAtEnd() const {
    return verticalScrollBar()->value() >= verticalScrollBar()->maximum();
}

void InvokerLogBox::showUpdate(const InvokerLogUpdate& update, const QString& logPath) {
    m_logPath = logPath;
    endReading();
    if (update.kind == InvokerLogUpdate::Kind::Unchanged)
        return; // nothing moves when nothing was written
    if (m_selecting) {
        m_held.append(update);
        return;
    }
    apply(update);
}

void InvokerLogBox::apply(const InvokerLogUpdate& update) {
    const bool following = isAtEnd();
    const int position = verticalScrollBar()->value();
    switch (update.kind) {
    case InvokerLogUpdate::Kind::Unchanged:
        return;
    case InvokerLogUpdate::Kind::Replaced:
        m_missing = update.status == AgentFileStatus::Missing;
        m_lines = m_missing ? QStringList() : update.lines;
        if (m_missing)
            showText(kLogMissingText + QStringLiteral(": ") + QDir::toNativeSeparators(m_logPath));
        else if (!m_onlyTask.isEmpty())
            showFiltered();
        else
            showText((update.truncatedFront || update.lines.isEmpty() ? QString() : QStringLiteral("\n")) +
                     joinedForLogBox(update.lines));
        break;
    case InvokerLogUpdate::Kind::Appended:
        if (update.dropLastShown && !m_lines.isEmpty())
            m_lines.removeLast();
        m_lines += update.lines;
        if (m_lines.size() > kLogBoxLines)
            m_lines.remove(0, m_lines.size() - kLogBoxLines);
        if (!m_onlyTask.isEmpty()) {
            showFiltered();
            break;
        }
        if (update.dropLastShown) {
            QTextCursor cursor(document());
            cursor.movePosition(QTextCursor::End);
            cursor.movePosition(QTextCursor::StartOfBlock, QTextCursor::KeepAnchor);
            cursor.removeSelectedText();
            cursor.deletePreviousChar();
        }
        if (document()->isEmpty())
            showText(QStringLiteral("\n") + joinedForLogBox(update.lines));
        else if (!update.lines.isEmpty())
            appendPlainText(joinedForLogBox(update.lines));
        break;
    }
    m_partLines = update.partLines;
    if (m_partLines - m_lines.size() != m_earlierShown)
        showSign();
    verticalScrollBar()->setValue(following ? verticalScrollBar()->maximum() : position);
}

void InvokerLogBox::showText(const QString& text) {
    if (toPlainText() != text)
        setPlainText(text);
}

void InvokerLogBox::showFiltered() {
    // An indented line continues the entry above it ("return code 1603, see the package log" under a
    // failure) and goes with it.
    QStringList kept;
    bool entryKept = false;
    for (const QString& line : std::as_const(m_lines)) {
        const bool continuation = line.startsWith(QLatin1Char(' ')) || line.startsWith(QLatin1Char('\t'));
        if (!continuation)
            entryKept = line.contains(m_onlyTask);
        if (entryKept || line.contains(m_onlyTask))
            kept << line;
    }
    showText(kept.isEmpty() ? QString() : QStringLiteral("\n") + joinedForLogBox(kept));
}

void InvokerLogBox::setOnlyTask(const QString& text, const QString& label) {
    if (text == m_onlyTask)
        return;
    m_onlyTask = text;
    if (m_missing) {
        // Nothing to filter; the missing log's text stays.
    } else if (m_onlyTask.isEmpty()) {
        showText(m_lines.isEmpty() ? QString() : QStringLiteral("\n") + joinedForLogBox(m_lines));
    } else {
        showFiltered();
    }
    verticalScrollBar()->setValue(verticalScrollBar()->maximum());
    m_onlyTaskLabel = label;
    showSign();
    emit onlyTaskChanged(m_onlyTask);
}

// Above the text: which task's lines the box shows, and how many lines of a long day are not shown.
void InvokerLogBox::showSign() {
    QStringList parts;
    if (m_day.isValid())
        parts << QStringLiteral("Lines of %1 &nbsp; <a href=\"today\">Back to today</a>")
                     .arg(invokerDateKey(m_day));
    if (!m_onlyTask.isEmpty())
        parts << QStringLiteral("Only the lines of %1 &nbsp; <a href=\"all\">Show every line</a>")
                     .arg(m_onlyTaskLabel.toHtmlEscaped());
    m_earlierShown = m_missing ? 0 : std::max<qint64>(0, m_partLines - m_lines.size());
    if (m_earlierShown > 0)
        parts << QStringLiteral("%L1 earlier lines of the day are not shown").arg(m_earlierShown);
    m_sign->setText(parts.join(QStringLiteral(" &nbsp;|&nbsp; ")));
    m_sign->setVisible(!parts.isEmpty());
    setViewportMargins(0, parts.isEmpty() ? 0 : m_sign->sizeHint().height(), 0, 0);
    placeSign();
}

void InvokerLogBox::setDay(const QDate& day) {
    m_day = day;
    showSign();
}

void InvokerLogBox::placeSign() {
    const QRect area = contentsRect();
    m_sign->setGeometry(area.left(), area.top(), area.width(), m_sign->sizeHint().height());
}

void InvokerLogBox::resizeEvent(QResizeEvent* event) {
    QPlainTextEdit::resizeEvent(event);
    placeSign();
}

QString InvokerLogBox::exitCodeToolTipAt(const QPoint& position) const {
    const QString line = cursorForPosition(position).block().text();
    QStringList explained;
    for (const InstallerExitCode& code : installerExitCodesIn(line)) {
        if (!code.meaning.isEmpty())
            explained << QStringLiteral("%1 = %2").arg(code.written, code.meaning);
    }
    return explained.join(QLatin1Char('\n'));
}

bool InvokerLogBox::viewportEvent(QEvent* event) {
    if (event->type() == QEvent::ToolTip) {
        auto* help = static_cast<QHelpEvent*>(event);
        const QString tip = exitCodeToolTipAt(help->pos());
        if (tip.isEmpty())
            QToolTip::hideText();
        else
            QToolTip::showText(help->globalPos(), tip, viewport());
        return true;
    }
    return QPlainTextEdit::viewportEvent(event);
}

void InvokerLogBox::mousePressEvent(QMouseEvent* event) {
    m_selecting = true;
    QPlainTextEdit::mousePressEvent(event);
}

void InvokerLogBox::mouseReleaseEvent(QMouseEvent* event) {
    QPlainTextEdit::mouseReleaseEvent(event);
    m_selecting = false;
    const QList<InvokerLogUpdate> held = std::exchange(m_held, {});
    for (const InvokerLogUpdate& update : held)
        apply(update);
}

void InvokerLogBox::contextMenuEvent(QContextMenuEvent* event) {
    QMenu* menu = createStandardContextMenu(event->pos());
    if (!m_onlyTask.isEmpty()) {
        menu->addSeparator();
        menu->addAction(QStringLiteral("Show &every line"), this,
                        [this] { setOnlyTask(QString(), QString()); });
    }
    menu->addSeparator();
    // Another day's part, chosen on a calendar that ends today.
    menu->addAction(QStringLiteral("Show another &day..."), this, [this, place = event->globalPos()] {
        auto* calendar = new QCalendarWidget(this);
        calendar->setObjectName(QStringLiteral("LogDayCalendar"));
        calendar->setWindowFlags(Qt::Popup);
        calendar->setAttribute(Qt::WA_DeleteOnClose);
        calendar->setMaximumDate(m_clock.today());
        calendar->setSelectedDate(m_day.isValid() ? m_day : m_clock.today());
        connect(calendar, &QCalendarWidget::activated, this, [this, calendar](const QDate& day) {
            calendar->close();
            emit dayChosen(day);
        });
        calendar->move(place);
        calendar->show();
    });
    if (m_day.isValid())
        menu->addAction(QStringLiteral("Back to &today"), this, [this] { emit dayChosen(QDate()); });
    menu->exec(event->globalPos());
    delete menu;
}

} // namespace corvane
