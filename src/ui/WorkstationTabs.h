#pragma once

#include "agent/AgentPaths.h"
#include "agent/Workstation.h"

#include <QWidget>

#include <functional>

class QStackedWidget;
class QTabBar;

namespace corvane {

class Clock;
class MessagePresenter;
class WorkstationView;

// The main window's workstations, one tab each above the list: the machine Corvane runs on first, then the
// workstations the technician connected to. With the local machine alone there is no tab bar and the window
// looks as it always did.
class WorkstationTabs : public QWidget {
    Q_OBJECT

public:
    // Maps what the technician typed to a workstation; false with the reason when it names none.
    using Resolver = std::function<bool(const QString& typed, Workstation& workstation, QString& error)>;

    WorkstationTabs(const AgentPaths& localPaths, MessagePresenter& messages, const Clock& clock,
                    QWidget* parent = nullptr);

    WorkstationView* local() const;
    WorkstationView* current() const;
    QList<WorkstationView*> views() const;
    // The tab of the workstation named `name` (as the resolver made it), or null.
    WorkstationView* find(const QString& name) const;

    // Opens the workstation `reached` in a tab of its own, or switches to its tab when open; with `taskId`,
    // selects that task once the list holds it.
    WorkstationView* open(const Workstation& reached, const QString& taskId = {});
    // Closes the tab at `index`; the local machine's stays.
    void close(int index);

    // Every tab's five-second tick.
    void tick();

signals:
    void currentChanged(corvane::WorkstationView* view);
    // A tab was opened; the window gives it what it arranged.
    void opened(corvane::WorkstationView* view);

private:
    void showTabBar();

    MessagePresenter& m_messages;
    const Clock& m_clock;
    QTabBar* m_bar = nullptr;
    QStackedWidget* m_stack = nullptr;
    int m_grownBy = 0; // what the window grew when the tab bar came, so that it shrinks back when it goes
};

} // namespace corvane
