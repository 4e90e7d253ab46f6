#pragma once

#include <QLabel>
#include <QStringList>

namespace corvane {

// The first panel of the status bar: what keeps the list or the log box from showing the agent's state.
// Each source has its slot. A text longer than the panel ends in "...", and with more than one notice the
// panel starts with how many there are; the tooltip has every notice whole.
class NoticePanel : public QLabel {
    Q_OBJECT

public:
    explicit NoticePanel(int count, QWidget* parent = nullptr);

    // An empty text takes the slot's notice away.
    void setNotice(int slot, const QString& text);
    QStringList notices() const;

protected:
    void resizeEvent(QResizeEvent* event) override;
    void childEvent(QChildEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void showNotices();

    QStringList m_slots;
};

} // namespace corvane
