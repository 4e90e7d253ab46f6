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
#include <QTextBlock>
#include <QTextDocument>
#include <QTextLayout>
#include <QToolTip>

namespace corvane {

namespace {

const QColor kErrorColour(200, 0, 0);
const QColor kWarningColour(176, 96, 0);

// Whether `text` may hold a word that colours a line: a failure, a warning or an exit code. False only
// for a line of ASCII without any of them, which is most of a log; a burst of thousands of lines is then
// looked at once, without the patterns.
bool mayBeColoured(QStringView text) {
    static const QLatin1StringView kWords[] = {
        QLatin1StringView("err"),    QLatin1StringView("fail"),   QLatin1StringView("fatal"),
        QLatin1StringView("warn"),   QLatin1StringView("return"), QLatin1StringView("exit"),
        QLatin1StringView("result"),
    };
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (c >= 0x80)
            return true; // the patterns fold case beyond ASCII
        const char lower = char(c | 0x20);
        if (lower != 'e' && lower != 'f' && lower != 'w' && lower != 'r')
            continue;
        for (const QLatin1StringView word : kWords) {
            if (word.front() == lower && text.sliced(i).startsWith(word, Qt::CaseInsensitive))
                return true;
        }
    }
    return false;
}

// The colour of a whole line: failures and errors in one, warnings in another; invalid for neither.
QColor lineColour(const QString& text) {
    static const QRegularExpression error(QStringLiteral("\\b(?:error|errors|fail|failed|failure|fatal)\\b"),
                                          QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression warning(QStringLiteral("\\b(?:warn|warning|warnings)\\b"),
                                            QRegularExpression::CaseInsensitiveOption);
    if (!mayBeColoured(text))
        return QColor();
    bool failedCode = false;
    for (const InstallerExitCode& code : installerExitCodesIn(text))
        failedCode = failedCode || code.failed;
    if (failedCode || error.match(text).hasMatch())
        return kErrorColour;
    if (warning.match(text).hasMatch())
        return kWarningColour;
    return QColor();
}

// Colours the lines of a document as they come in. Only a line that takes a colour is given a format: a
// syntax highlighter prepares a format for every character of every line, which was most of the cost of
// a burst of thousands of lines.
class LineColours : public QObject {
public:
    explicit LineColours(QTextDocument* document)
        : QObject(document)
        , m_document(document) {
        connect(document, &QTextDocument::contentsChange, this, &LineColours::colour);
    }

private:
    void colour(int position, int, int charsAdded) {
        if (m_colouring)
            return;
        m_colouring = true;
        const QTextBlock first = m_document->findBlock(position);
        const QTextBlock last = m_document->findBlock(position + charsAdded);
        for (QTextBlock block = first; block.isValid(); block = block.next()) {
            // A line inserted now has no format yet; only the first of the range may have had one.
            colourBlock(block, block == first);
            if (block == last)
                break;
        }
        m_colouring = false;
    }

    void colourBlock(const QTextBlock& block, bool mayHaveColour) {
        const QString text = block.text();
        const QColor colour = lineColour(text);
        if (!colour.isValid() && (!mayHaveColour || block.layout()->formats().isEmpty()))
            return;
        QList<QTextLayout::FormatRange> formats;
        if (colour.isValid()) {
            QTextLayout::FormatRange range;
            range.start = 0;
            range.length = int(text.size());
            range.format.setForeground(colour);
            formats.append(range);
        }
        block.layout()->setFormats(formats);
        m_document->markContentsDirty(block.position(), block.length());
    }

    QTextDocument* m_document;
    bool m_colouring = false;
};

} // namespace

InvokerLogBox::InvokerLogBox(const Clock& clock, QWidget* parent)
    : QPlainTextEdit(parent)
    , m_clock(clock) {
    // Until the first read the box is empty, whatever message the window opens with.
    setPlaceholderText(QStringLiteral("Reading..."));
    new LineColours(document());
    m_feed = new LogBoxFeed(*this);
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
        m_lines = m_missing ? LogLines() : update.lines;
        if (m_missing)
            showText(kLogMissingText + QStringLiteral(": ") + QDir::toNativeSeparators(m_logPath));
        else if (!m_onlyTask.isEmpty())
            showFiltered();
        else
            showLines(update.lines, !update.truncatedFront);
        break;
    case InvokerLogUpdate::Kind::Appended:
        if (update.dropLastShown && !m_lines.isEmpty())
            m_lines.removeLast();
        m_lines.append(update.lines);
        if (m_lines.size() > kLogBoxLines)
            m_lines.removeFirst(m_lines.size() - kLogBoxLines);
        if (!m_onlyTask.isEmpty()) {
            showFiltered();
            break;
        }
        if (update.dropLastShown && !m_feed->dropLastQueued()) {
            QTextCursor cursor(document());
            cursor.movePosition(QTextCursor::End);
            cursor.movePosition(QTextCursor::StartOfBlock, QTextCursor::KeepAnchor);
            cursor.removeSelectedText();
            cursor.deletePreviousChar();
        }
        if (document()->isEmpty() && !m_feed->hasQueued())
            showLines(update.lines, true);
        else
            m_feed->append(update.lines);
        break;
    }
    m_partLines = update.partLines;
    if (m_partLines - m_lines.size() != m_earlierShown)
        showSign();
    verticalScrollBar()->setValue(following ? verticalScrollBar()->maximum() : position);
}

void InvokerLogBox::showText(const QString& text) {
    m_feed->clear();
    if (toPlainText() != text)
        setPlainText(text);
}

void InvokerLogBox::showLines(const LogLines& lines, bool leadingBreak) {
    const QString text =
        (leadingBreak && !lines.isEmpty() ? QStringLiteral("\n") : QString()) + joinedForLogBox(lines);
    if (lines.size() <= LogBoxFeed::kSliceLines || toPlainText() == text) {
        showText(text);
        return;
    }
    // Thousands of lines (a day's log, or a burst that fills the box) go in a slice at a time.
    m_feed->clear();
    clear();
    if (!leadingBreak) {
        m_feed->append(lines);
        return;
    }
    LogLines withBreak;
    withBreak.append(QStringView());
    withBreak.append(lines);
    m_feed->append(withBreak);
}

void InvokerLogBox::showFiltered() {
    // An indented line continues the entry above it ("return code 1603, see the package log" under a
    // failure) and goes with it.
    LogLines kept;
    bool entryKept = false;
    for (qsizetype i = 0; i < m_lines.size(); ++i) {
        const QStringView line = m_lines.at(i);
        const bool continuation = line.startsWith(QLatin1Char(' ')) || line.startsWith(QLatin1Char('\t'));
        if (!continuation)
            entryKept = line.contains(m_onlyTask);
        if (entryKept || line.contains(m_onlyTask))
            kept.append(line);
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
    m_feed->setPaused(true);
    QPlainTextEdit::mousePressEvent(event);
}

void InvokerLogBox::mouseReleaseEvent(QMouseEvent* event) {
    QPlainTextEdit::mouseReleaseEvent(event);
    m_selecting = false;
    m_feed->setPaused(false);
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
