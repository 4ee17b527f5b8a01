#pragma once

#include <QString>
#include <QWidget>

class QLabel;
class QVBoxLayout;

namespace corvessa {

// The labelled row every settings pane is built from: a 140-point title column
// that wraps, then the control, with an optional grey explanation under it.
// Callers pass texts already translated. Main thread.
class SettingRow : public QWidget {
    Q_OBJECT
public:
    static constexpr int titleWidth = 140;
    static constexpr int spacing = 16;

    SettingRow(const QString& title, const QString& desc, QWidget* control, QWidget* parent = nullptr);

    // The explanation may follow a setting; an empty text hides the line.
    void setDesc(const QString& desc);
    QString title() const;
    QString desc() const;

private:
    QLabel* m_title = nullptr;
    QLabel* m_desc = nullptr;
};

} // namespace corvessa
