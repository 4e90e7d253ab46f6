#pragma once

#include <QWidget>

class QLabel;
class QLineEdit;
class QPlainTextEdit;

namespace corvane {

// Ctrl+F in the log box: a field above it. Every match of the text is highlighted; Enter or F3 goes to the
// next one, Shift+Enter or Shift+F3 to the previous one, wrapping round; Escape closes it.
class LogSearchBar : public QWidget {
    Q_OBJECT

public:
    explicit LogSearchBar(QPlainTextEdit* box, QWidget* parent = nullptr);

    void activate();
    // Whether Ctrl+F is for the log: the technician put the focus in the box or in this bar. The box has the
    // window's first focus without being chosen, and Ctrl+F then filters the list as it always did.
    bool isWanted() const;
    // Goes to the next (or previous) match from the cursor; false when there is none.
    bool findNext(bool backwards = false);
    int matchCount() const { return m_matches; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void highlight();
    void close();

    QPlainTextEdit* m_box;
    QLineEdit* m_field = nullptr;
    QLabel* m_count = nullptr;
    int m_matches = 0;
    bool m_boxChosen = false;
};

} // namespace corvane
