#include "ui/SyncStatusPanel.h"

#include "base/OffThread.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QShortcut>
#include <QTimer>

namespace corvane {

namespace {
// How often the elapsed time is brought up to date, and the machine searched for a synchroniser left running.
constexpr int kTickMs = 1000;

// "0:42", "12:05", "1:02:03"
QString elapsedText(qint64 ms) {
    const qint64 seconds = ms / 1000;
    const QString minutes = QStringLiteral("%1:%2")
                                .arg(seconds / 60 % 60, seconds >= 3600 ? 2 : 1, 10, QLatin1Char('0'))
                                .arg(seconds % 60, 2, 10, QLatin1Char('0'));
    return seconds >= 3600 ? QStringLiteral("%1:").arg(seconds / 3600) + minutes : minutes;
}
} // namespace

SyncStatusPanel::SyncStatusPanel(const QString& synchroniserPath, QWidget* parent)
    : QWidget(parent)
    , m_synchroniserPath(synchroniserPath) {
    setObjectName(QStringLiteral("SyncStatusPanel"));
    m_text = new QLabel(this);
    m_text->setObjectName(QStringLiteral("SyncStatusText"));
    m_cancel = new QPushButton(QStringLiteral("&Cancel"), this);
    m_cancel->setObjectName(QStringLiteral("BtnCancelSync"));
    m_cancel->setToolTip(QStringLiteral("Stop following the Policy Sync (Escape)"));
    // Escape in the main window; the log window's own Escape closes that window.
    auto* cancelKey = new QShortcut(QKeySequence(Qt::Key_Escape), m_cancel);
    connect(cancelKey, &QShortcut::activated, m_cancel, &QPushButton::click);
    m_follow = new QPushButton(QStringLiteral("Follow"), this);
    m_follow->setObjectName(QStringLiteral("BtnFollowSync"));
    m_follow->setToolTip(QStringLiteral("Follow the running synchroniser's log from now on"));
    for (QPushButton* button : {m_cancel, m_follow}) {
        // Reached with Tab, sized to their text and as high as the bar leaves them, in any style.
        button->setFocusPolicy(Qt::TabFocus);
        button->setMinimumWidth(60);
        button->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Ignored);
        button->hide();
    }
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(4);
    layout->addWidget(m_text);
    layout->addWidget(m_cancel);
    layout->addWidget(m_follow);
    connect(m_cancel, &QPushButton::clicked, this, &SyncStatusPanel::cancelClicked);
    connect(m_follow, &QPushButton::clicked, this, &SyncStatusPanel::followClicked);
    m_tick = new QTimer(this);
    m_tick->setInterval(kTickMs);
    connect(m_tick, &QTimer::timeout, this, [this] {
        if (m_inRun)
            showElapsed();
        else
            search();
    });
    hide();
}

QString SyncStatusPanel::text() const {
    return isHidden() ? QString() : m_text->text();
}

void SyncStatusPanel::showRun(qint64 elapsedMs) {
    m_inRun = true;
    m_runClock.start();
    m_runStartMs = elapsedMs;
    m_follow->hide();
    m_cancel->show();
    showElapsed();
    show();
    m_tick->start();
}

void SyncStatusPanel::showElapsed() {
    m_text->setText(
        QStringLiteral("Policy Sync running %1").arg(elapsedText(m_runStartMs + m_runClock.elapsed())));
}

void SyncStatusPanel::endRun(bool abandoned) {
    m_inRun = false;
    m_cancel->hide();
    m_abandoned = abandoned;
    hide();
    lookForSynchroniser();
}

void SyncStatusPanel::lookForSynchroniser() {
    if (m_inRun)
        return;
    search();
    m_tick->start();
}

void SyncStatusPanel::search() {
    if (m_searching)
        return;
    m_searching = true;
    runOffThread(
        this,
        [path = m_synchroniserPath]() -> std::optional<SynchroniserProcess> {
            const QList<SynchroniserProcess> found = findSynchronisers(path);
            return found.isEmpty() ? std::nullopt : std::optional(found.first());
        },
        [this](const std::optional<SynchroniserProcess>& process) {
            m_searching = false;
            if (!m_inRun)
                showFound(process);
        });
}

void SyncStatusPanel::showFound(const std::optional<SynchroniserProcess>& process) {
    if (!process) {
        m_tick->stop(); // nothing to watch until the next run ends
        m_abandoned = false;
        hide();
        return;
    }
    m_text->setText(QStringLiteral("The policy synchroniser is %1running (process %2)")
                        .arg(m_abandoned ? QStringLiteral("still ") : QString())
                        .arg(process->pid));
    m_follow->show();
    show();
}

} // namespace corvane
