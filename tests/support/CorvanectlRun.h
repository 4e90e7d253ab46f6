#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

namespace corvane::test {

// What one run of corvanectl gave. A run that did not end in time (a message box in place of output, a wait
// on a file) shows as finished == false and was killed.
struct CorvanectlRun {
    bool finished = false;
    int exitCode = -1;
    QString out;
    QString err;
};

inline CorvanectlRun runCorvanectl(const QStringList& arguments, int seconds = 60) {
    QProcess process;
    process.start(QStringLiteral(CORVANECTL_PATH), arguments);
    CorvanectlRun run;
    run.finished = process.waitForFinished(seconds * 1000);
    if (!run.finished) {
        process.kill();
        process.waitForFinished();
        return run;
    }
    run.exitCode = process.exitCode();
    run.out = QString::fromUtf8(process.readAllStandardOutput());
    run.err = QString::fromUtf8(process.readAllStandardError());
    return run;
}

} // namespace corvane::test
