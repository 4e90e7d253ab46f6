#pragma once

#include <QStringList>
#include <QWidget>

class QPlainTextEdit;

namespace corvane {

// "Policy Sync log": the lines a synchronisation adds to the synchroniser's log, one per line, the last in
// view. A plain viewer, not modal, sized by the technician.
class Form2 : public QWidget {
    Q_OBJECT

public:
    explicit Form2(QWidget* parent = nullptr);

    // Replaces the text with `lines`, each ended by a line break, and scrolls to the last one.
    void setLines(const QStringList& lines);
    QString text() const;

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void Form_Resize();

    QPlainTextEdit* Text1 = nullptr;
};

} // namespace corvane
