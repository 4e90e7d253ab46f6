#include "ui/WorkstationTabs.h"

#include "session/AgentSession.h"
#include "ui/WorkstationView.h"

#include <QDir>
#include <QStackedWidget>
#include <QTabBar>
#include <QVBoxLayout>

namespace corvane {

WorkstationTabs::WorkstationTabs(const AgentPaths& localPaths, MessagePresenter& messages, const Clock& clock,
                                 QWidget* parent)
    : QWidget(parent)
    , m_messages(messages)
    , m_clock(clock) {
    setObjectName(QStringLiteral("WorkstationTabs"));
    m_bar = new QTabBar(this);
    m_bar->setObjectName(QStringLiteral("WorkstationTabBar"));
    m_bar->setTabsClosable(true);
    m_bar->setMovable(false);
    m_bar->setExpanding(false);
    m_bar->setDocumentMode(true);
    m_stack = new QStackedWidget(this);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(m_bar);
    layout->addWidget(m_stack, 1);

    auto* local = new WorkstationView(localPaths, messages, clock, m_stack);
    m_stack->addWidget(local);
    m_bar->addTab(local->title());
    // The local machine's tab cannot be closed.
    m_bar->setTabButton(0, QTabBar::RightSide, nullptr);
    m_bar->setTabButton(0, QTabBar::LeftSide, nullptr);
    m_bar->hide();

    connect(m_bar, &QTabBar::currentChanged, this, [this](int index) {
        if (index < 0)
            return;
        m_stack->setCurrentIndex(index);
        emit currentChanged(current());
    });
    connect(m_bar, &QTabBar::tabCloseRequested, this, &WorkstationTabs::close);
}

WorkstationView* WorkstationTabs::local() const {
    return static_cast<WorkstationView*>(m_stack->widget(0));
}

WorkstationView* WorkstationTabs::current() const {
    return static_cast<WorkstationView*>(m_stack->currentWidget());
}

QList<WorkstationView*> WorkstationTabs::views() const {
    QList<WorkstationView*> all;
    for (int i = 0; i < m_stack->count(); ++i)
        all << static_cast<WorkstationView*>(m_stack->widget(i));
    return all;
}

WorkstationView* WorkstationTabs::find(const QString& name) const {
    for (WorkstationView* view : views()) {
        if (view->session()->isRemote() && view->workstation().name.compare(name, Qt::CaseInsensitive) == 0)
            return view;
    }
    return nullptr;
}

WorkstationView* WorkstationTabs::open(const Workstation& reached, const QString& taskId) {
    // Every tab but this computer's is another workstation, whether a share or a folder standing in for one
    // reached it: read first, and no Policy Sync.
    Workstation workstation = reached;
    workstation.remote = true;
    WorkstationView* view = find(workstation.name);
    if (!view) {
        view = new WorkstationView(workstation, m_messages, m_clock, m_stack);
        m_stack->addWidget(view);
        const int index = m_bar->addTab(view->title());
        m_bar->setTabToolTip(index, QDir::toNativeSeparators(workstation.root));
        emit opened(view);
        showTabBar();
        view->load();
    }
    if (!taskId.isEmpty())
        view->selectTask(taskId);
    m_bar->setCurrentIndex(m_stack->indexOf(view));
    return view;
}

void WorkstationTabs::close(int index) {
    if (index <= 0 || index >= m_stack->count())
        return;
    auto* view = static_cast<WorkstationView*>(m_stack->widget(index));
    m_stack->removeWidget(view); // first: the bar's new current index then names the same page
    m_bar->removeTab(index);
    m_stack->setCurrentIndex(m_bar->currentIndex());
    view->session()->shutdown();
    view->deleteLater();
    showTabBar();
    emit currentChanged(current());
}

void WorkstationTabs::tick() {
    for (WorkstationView* view : views())
        view->tick();
}

// The tab bar and the workstation's name in each status bar show while another workstation is open.
void WorkstationTabs::showTabBar() {
    const bool several = m_stack->count() > 1;
    // The window makes room for the tab bar instead of taking it from each tab's banner and list, and gives
    // it back when the bar goes.
    QWidget* top = window();
    const bool resizable =
        top->isVisible() && !(top->windowState() & (Qt::WindowMaximized | Qt::WindowFullScreen));
    if (several && m_bar->isHidden() && resizable) {
        m_grownBy = m_bar->sizeHint().height();
        top->resize(top->width(), top->height() + m_grownBy);
    } else if (!several && !m_bar->isHidden()) {
        if (resizable)
            top->resize(top->width(), top->height() - m_grownBy);
        m_grownBy = 0;
    }
    m_bar->setVisible(several);
    for (WorkstationView* view : views())
        view->setNamed(several);
}

} // namespace corvane
