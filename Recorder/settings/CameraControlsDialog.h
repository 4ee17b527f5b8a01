#pragma once

#include "platform/CameraPictureControl.h"

#include <QDialog>
#include <QString>

#include <functional>
#include <memory>

class QWindow;

namespace corvessa {

class CameraService;
class RecorderModel;

// The camera's own picture controls (brightness, contrast, saturation, white
// balance, backlight compensation, as far as the camera offers them), each
// written to the camera as it moves. Stands in for a system effects panel,
// which Linux lacks. Main thread.
class CameraControlsDialog : public QDialog {
    Q_OBJECT
public:
    CameraControlsDialog(std::shared_ptr<CameraService> service, QString cameraId, QWidget* parent = nullptr);

    // The English title of a control; the dialog shows its translation.
    static QString englishTitle(CameraPictureControl::Kind kind);

    // Opens one for the model's camera (else the first there is), closed with
    // the settings; `registerWindow` keeps it out of recordings.
    static void open(QWidget* from, RecorderModel* model, const std::function<void(QWindow*)>& registerWindow);

private:
    void build();

    std::shared_ptr<CameraService> m_service;
    QString m_cameraId;
};

} // namespace corvessa
