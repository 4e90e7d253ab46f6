// Find on workstations, with names that stand for simulated agents in folders.
#include "DemoAgent.h"
#include "TestAgent.h"
#include "ui/FindOnWorkstationsDialog.h"

#include <QDir>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>

using namespace corvane;
using corvane::test::TestAgent;

class TestWorkstations : public QObject {
    Q_OBJECT

private slots:
    // Each choice of the filter narrows what is found; the rows of each workstation stay together in the
    // order of the names; a workstation that cannot be read is listed with its reason, a name that stands
    // for none stops the search at its line; a double-click asks for that workstation's task.
    void findFiltersAndOpensATask() {
        TestAgent one;
        TestAgent two;
        QVERIFY(test::writeDemo(one));
        QVERIFY(test::writeDemo(two));
        QTemporaryDir dir;
        const QMap<QString, QString> roots{{QStringLiteral("ONE"), one.root()},
                                           {QStringLiteral("TWO"), two.root()},
                                           {QStringLiteral("GONE"), dir.filePath(QStringLiteral("gone"))}};
        FindOnWorkstationsDialog dialog([&](const QString& name, Workstation& workstation, QString& error) {
            if (!roots.contains(name)) {
                error = QStringLiteral("no such workstation");
                return false;
            }
            workstation = Workstation{name, roots.value(name), true};
            return true;
        });
        QSignalSpy ended(&dialog, &FindOnWorkstationsDialog::searchEnded);
        const auto found = [&](const TaskFilter& filter) {
            dialog.setFilter(filter);
            dialog.find();
            // Longer than the reader's deadline: a read it gives up on shows below as what it said.
            if (!ended.wait(3 * dialog.reader().deadlineMs()))
                return QStringList{QStringLiteral("no end")};
            QStringList rows = dialog.foundCsv().split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
            rows.removeFirst();
            for (QString& row : rows)
                row = row.section(QLatin1Char(','), 0, 1); // workstation and task
            const QString gone = QDir::toNativeSeparators(roots.value(QStringLiteral("GONE")));
            for (const QString& unread : dialog.unreadText()) {
                if (!unread.startsWith(gone))
                    rows << unread;
            }
            return rows;
        };

        dialog.setNames(QStringLiteral("ONE\n  NONE \n"));
        dialog.find();
        QCOMPARE(ended.size(), 0);
        QCOMPARE(dialog.statusText(), QStringLiteral("Not searched: line 2: no such workstation"));

        dialog.setNames(QStringLiteral("TWO\n\n GONE\nONE\n"));
        TaskFilter filter;
        filter.errorReschedule = true;
        QCOMPARE(found(filter),
                 (QStringList{QStringLiteral("TWO,CORE01_1204"), QStringLiteral("ONE,CORE01_1204")}));
        QCOMPARE(dialog.unreadText().size(), 1);
        QVERIFY2(dialog.unreadText().first().startsWith(
                     QDir::toNativeSeparators(roots.value(QStringLiteral("GONE")))),
                 qPrintable(dialog.unreadText().first()));
        filter = TaskFilter();
        filter.active = true;
        QCOMPARE(found(filter), (QStringList{QStringLiteral("TWO,CORE01_1203"), QStringLiteral("TWO,1312"),
                                             QStringLiteral("ONE,CORE01_1203"), QStringLiteral("ONE,1312")}));
        filter = TaskFilter();
        filter.text = QStringLiteral("team CHAT");
        filter.notCompleted = true;
        QCOMPARE(found(filter),
                 (QStringList{QStringLiteral("TWO,CORE01_1209"), QStringLiteral("ONE,CORE01_1209")}));
        filter.text = QStringLiteral("Web Browser");
        QCOMPARE(found(filter), QStringList()); // completed

        filter = TaskFilter();
        filter.text = QStringLiteral("CORE01_1204");
        QCOMPARE(found(filter).size(), 2);
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        auto* tasks = dialog.findChild<QTreeWidget*>(QStringLiteral("tasks"));
        QVERIFY(tasks);
        QList<std::pair<Workstation, QString>> opened;
        connect(&dialog, &FindOnWorkstationsDialog::openTask, this,
                [&](const Workstation& workstation, const QString& taskId) {
                    opened.append({workstation, taskId});
                });
        const QPoint second = tasks->visualItemRect(tasks->topLevelItem(1)).center();
        QTest::mouseClick(tasks->viewport(), Qt::LeftButton, {}, second);
        QTest::mouseDClick(tasks->viewport(), Qt::LeftButton, {}, second);
        QCOMPARE(opened.size(), 1);
        QCOMPARE(opened.first().first, (Workstation{QStringLiteral("ONE"), one.root(), true}));
        QCOMPARE(opened.first().second, QStringLiteral("CORE01_1204"));
    }
};

QTEST_MAIN(TestWorkstations)
#include "tst_workstations.moc"
