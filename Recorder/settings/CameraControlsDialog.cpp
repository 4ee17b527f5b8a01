#include "settings/CameraControlsDialog.h"

#include "model/RecorderModel.h"
#include "platform/CameraService.h"
#include "prefs/Loc.h"
#include "toolbar/kit/FloatingWindow.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFontDatabase>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QVBoxLayout>
#include <QWindow>

#include <utility>

namespace corvessa {

namespace {

constexpr int kSliderWidth = 220;
constexpr int kValueWidth = 52;

} // namespace

CameraControlsDialog::CameraControlsDialog(std::shared_ptr<CameraService> service, QString cameraId, QWidget* parent)
    : QDialog(parent)
    , m_service(std::move(service))
    , m_cameraId(std::move(cameraId))
{
    setWindowTitle(Loc::text(QStringLiteral("Video Effects")));
    build();
}

QString CameraControlsDialog::englishTitle(CameraPictureControl::Kind kind)
{
    switch (kind) {
    case CameraPictureControl::Kind::brightness:
        return QStringLiteral("Brightness");
    case CameraPictureControl::Kind::contrast:
        return QStringLiteral("Contrast");
    case CameraPictureControl::Kind::saturation:
        return QStringLiteral("Saturation");
    case CameraPictureControl::Kind::autoWhiteBalance:
        return QStringLiteral("Automatic White Balance");
    case CameraPictureControl::Kind::whiteBalance:
        return QStringLiteral("White Balance");
    case CameraPictureControl::Kind::backlightCompensation:
        break;
    }
    return QStringLiteral("Backlight Compensation");
}

void CameraControlsDialog::build()
{
    // The titles, where the key scanner sees them.
    static const char* const titles[] = {Loc::mark("Brightness"), Loc::mark("Contrast"), Loc::mark("Saturation"),
                                         Loc::mark("Automatic White Balance"), Loc::mark("White Balance"),
                                         Loc::mark("Backlight Compensation")};
    (void)titles;

    auto* layout = new QVBoxLayout(this);
    const std::vector<CameraPictureControl> controls =
        m_cameraId.isEmpty() ? std::vector<CameraPictureControl>{} : m_service->controls(m_cameraId);
    if (controls.empty()) {
        auto* none = new QLabel(m_cameraId.isEmpty() ? Loc::text(QStringLiteral("No camera is connected."))
                                                     : Loc::text(QStringLiteral("This camera offers no picture controls.")),
                                this);
        none->setObjectName(QStringLiteral("none"));
        layout->addWidget(none);
    }
    auto* grid = new QGridLayout;
    grid->setHorizontalSpacing(12);
    int row = 0;
    std::vector<std::function<void()>> resets;
    for (const CameraPictureControl& control : controls) {
        const CameraPictureControl::Kind kind = control.kind;
        grid->addWidget(new QLabel(Loc::text(englishTitle(kind)), this), row, 0);
        if (control.isSwitch) {
            auto* box = new QCheckBox(this);
            box->setAccessibleName(englishTitle(kind));
            box->setChecked(control.value != 0);
            connect(box, &QCheckBox::toggled, this,
                    [this, kind](bool on) { m_service->setControl(m_cameraId, kind, on ? 1 : 0); });
            grid->addWidget(box, row, 1);
            resets.push_back([box, on = control.defaultValue != 0] { box->setChecked(on); });
        } else {
            auto* slider = new QSlider(Qt::Horizontal, this);
            slider->setAccessibleName(englishTitle(kind));
            slider->setFixedWidth(kSliderWidth);
            slider->setRange(control.minimum, control.maximum);
            slider->setSingleStep(control.step);
            slider->setPageStep(std::max(control.step, (control.maximum - control.minimum) / 10));
            slider->setValue(control.value);
            auto* value = new QLabel(QString::number(control.value), this);
            value->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
            value->setFixedWidth(kValueWidth);
            value->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
            connect(slider, &QSlider::valueChanged, this, [this, kind, value](int v) {
                value->setText(QString::number(v));
                m_service->setControl(m_cameraId, kind, v);
            });
            grid->addWidget(slider, row, 1);
            grid->addWidget(value, row, 2);
            resets.push_back([slider, v = control.defaultValue] { slider->setValue(v); });
        }
        ++row;
    }
    layout->addLayout(grid);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    buttons->button(QDialogButtonBox::Close)->setText(Loc::text(QStringLiteral("Done")));
    if (!resets.empty()) {
        auto* reset = buttons->addButton(Loc::text(QStringLiteral("Restore Defaults")), QDialogButtonBox::ResetRole);
        connect(reset, &QPushButton::clicked, this, [resets] {
            for (const auto& r : resets)
                r();
        });
    }
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
}

void CameraControlsDialog::open(QWidget* from, RecorderModel* model,
                                const std::function<void(QWindow*)>& registerWindow)
{
    std::shared_ptr<CameraService> service = CameraService::current();
    QString id = model && model->cameraID() ? *model->cameraID() : QString();
    if (id.isEmpty()) {
        const std::vector<CameraDevice> devices = service->devices();
        if (!devices.empty())
            id = devices.front().id;
    }
    auto* dialog = new CameraControlsDialog(std::move(service), id, from ? from->window() : nullptr);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setModal(false);
    dialog->show();
    FloatingWindow::track(dialog, registerWindow);
}

} // namespace corvessa
