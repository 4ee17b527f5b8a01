#pragma once

#include "platform/Permissions.h"

#include <QString>
#include <QTimer>
#include <QWidget>

#include <memory>
#include <vector>

class QLabel;
class QPushButton;

namespace corvessa {

class RecorderModel;

// The Permissions tab: screen, microphone and camera, each with its state read
// from the platform and one button, "Grant Access" (checks again) or "Open
// System Settings" (the desktop's settings program; disabled when none was
// found). While shown it reads the states, and refreshes the model's, twice a
// second. Main thread; the model outlives it.
class PermissionsPane : public QWidget {
    Q_OBJECT
public:
    // Which button a row shows.
    enum class State { granted, denied, undetermined };

    // `settingsProgram`: the desktop's settings program, empty for none.
    PermissionsPane(std::shared_ptr<Permissions> permissions, RecorderModel* model, QString settingsProgram,
                    QWidget* parent = nullptr);

    static State stateOf(Permissions::Kind kind, Permissions::Access access);
    // Reads the three states again and updates the rows.
    void refresh();

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    struct Row {
        Permissions::Kind kind;
        QString page;
        QString detail; // translated
        QLabel* statusIcon = nullptr;
        QLabel* status = nullptr;
        QPushButton* button = nullptr;
        QLabel* detailLabel = nullptr;
        State state = State::undetermined;
    };

    void addRow(Permissions::Kind kind, const QString& title, const QString& detail, const QString& page);
    void press(const Row& row);
    void grant(Permissions::Kind kind);
    void tick();

    std::shared_ptr<Permissions> m_permissions;
    RecorderModel* m_model = nullptr;
    QString m_settingsProgram;
    std::vector<Row> m_rows;
    QTimer m_timer;
    // Ticks since the pane was shown: the model refreshes on every second one.
    int m_ticks = 0;
};

} // namespace corvessa
