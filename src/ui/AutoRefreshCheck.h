#pragma once

#include <QCheckBox>

namespace corvane {

// "Auto": the list is read every five seconds while it is ticked. While the database is missing there is
// nothing to read, so it is unticked and disabled, whatever else asks for it to be ticked; when the
// database comes back it is ticked again.
class AutoRefreshCheck : public QCheckBox {
    Q_OBJECT

public:
    explicit AutoRefreshCheck(const QString& text, QWidget* parent = nullptr);

    void setDatabaseMissing(bool missing);
    bool isDatabaseMissing() const { return m_databaseMissing; }

private:
    bool m_databaseMissing = false;
};

} // namespace corvane
