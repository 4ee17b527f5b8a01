#include "settings/CameraPane.h"

#include "model/RecorderModel.h"
#include "prefs/Loc.h"
#include "prefs/Prefs.h"
#include "settings/CaptureFormatSettings.h"
#include "settings/GatedSegmented.h"
#include "settings/PrefsWatch.h"
#include "settings/SettingRow.h"
#include "settings/SliderLine.h"

#include <QCheckBox>
#include <QFontMetrics>
#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSlider>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <utility>

namespace corvessa {

namespace {

constexpr int kModeWidth = 260;
constexpr int kShapeWidth = 380;
constexpr int kCircle = 2;
// The radius slider counts thousandths, so it moves smoothly.
constexpr int kRadiusSteps = 1000;
constexpr int kMinWidth = 120;
constexpr int kMaxWidth = 480;
constexpr int kWidthStep = 10;


// The cells are equally wide: enough for the widest title in each, or `width`.
int fittingWidth(const GatedSegmented* picker, int width)
{
    const QFontMetrics metrics(picker->font());
    int widest = 0;
    for (const GatedSegmented::Item& item : picker->items())
        widest = std::max(widest, metrics.horizontalAdvance(item.title) + (item.symbol.isEmpty() ? 0 : 18));
    return std::max(width, int(picker->items().size()) * (widest + 28));
}

} // namespace

CameraPane::CameraPane(Prefs& prefs, RecorderModel* model, std::function<void(QWidget*)> openEffects,
                       QWidget* parent)
    : QWidget(parent)
    , m_prefs(prefs)
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    auto* mode = new GatedSegmented([&prefs] { return int(prefs.cameraBurn()); },
                                    [&prefs](int value) { prefs.setCameraBurn(value != 0); },
                                    {{Loc::text(QStringLiteral("Separate Files")), {}, 0}, {Loc::text(QStringLiteral("Embed in Recording")), {}, 1}}, this);
    // Wider where the language's titles need it.
    mode->setFixedWidth(fittingWidth(mode, kModeWidth));
    m_modeRow = new SettingRow(Loc::text(QStringLiteral("Camera Mode")), {}, mode, this);
    layout->addWidget(m_modeRow);

    auto* shape = new GatedSegmented([&prefs] { return prefs.cameraShape(); },
                                     [&prefs](int value) { prefs.setCameraShape(value); },
                                     {{Loc::text(QStringLiteral("Landscape")), QStringLiteral("rectangle"), 0},
                                      {Loc::text(QStringLiteral("Square")), QStringLiteral("square"), 1},
                                      {Loc::text(QStringLiteral("Circle")), QStringLiteral("circle"), kCircle}},
                                     this);
    shape->setFixedWidth(fittingWidth(shape, kShapeWidth));
    layout->addWidget(new SettingRow(Loc::text(QStringLiteral("Camera Window Shape")), Loc::text(QStringLiteral("How the camera window appears on screen.")),
                                     shape, this));

    QWidget* radiusBox = SliderLine::make(m_radius, m_radiusText, this);
    m_radius->setRange(0, kRadiusSteps / 2);
    m_radius->setAccessibleName(Prefs::name(Prefs::Key::cameraRadius));
    connect(m_radius, &QSlider::valueChanged, this,
            [&prefs](int steps) { prefs.setCameraRadius(double(steps) / kRadiusSteps); });
    m_radiusRow = new SettingRow(Loc::text(QStringLiteral("Corner Radius")), {}, radiusBox, this);
    layout->addWidget(m_radiusRow);

    QWidget* sizeBox = SliderLine::make(m_size, m_sizeText, this);
    m_size->setRange(kMinWidth / kWidthStep, kMaxWidth / kWidthStep);
    m_size->setAccessibleName(Prefs::name(Prefs::Key::cameraPreviewW));
    connect(m_size, &QSlider::valueChanged, this,
            [&prefs](int tens) { prefs.setCameraPreviewW(double(tens * kWidthStep)); });
    layout->addWidget(new SettingRow(Loc::text(QStringLiteral("Camera Window Size")),
                                     Loc::text(QStringLiteral("How large the camera window is. You need to turn on your camera first.")),
                                     sizeBox, this));

    if (model) {
        layout->addWidget(new CaptureFormatSettings(*model, prefs, true, this));
        auto* preview = new QCheckBox(this);
        preview->setAccessibleName(QStringLiteral("cameraPreviewHidden"));
        const auto follow = [preview, model] {
            const QSignalBlocker block(preview);
            preview->setChecked(!model->cameraPreviewHidden());
        };
        follow();
        connect(model, &RecorderModel::changed, preview, [follow](RecorderModel::Field field) {
            if (field == RecorderModel::Field::cameraPreviewHidden)
                follow();
        });
        connect(preview, &QCheckBox::toggled, model, [model](bool shown) { model->setCameraPreviewHidden(!shown); });
        layout->addWidget(new SettingRow(Loc::text(QStringLiteral("Show Camera Preview")),
                                         Loc::text(QStringLiteral("Shows a small window on screen so you can see yourself.")), preview,
                                         this));
    }

    auto* effects = new QPushButton(Loc::text(QStringLiteral("Open Video Effects…")), this);
    effects->setObjectName(QStringLiteral("videoEffects"));
    effects->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    effects->setEnabled(bool(openEffects));
    connect(effects, &QPushButton::clicked, this, [this, open = std::move(openEffects)] {
        if (open)
            open(this);
    });
    // Linux has no system effects panel: the button opens the camera's own picture controls.
    layout->addWidget(new SettingRow(Loc::text(QStringLiteral("System Video Effects")),
                                     Loc::text(QStringLiteral("Adjust the camera's own picture: brightness, contrast, saturation, white "
                                         "balance and backlight compensation, where the camera offers them.")),
                                     effects, this));

    PrefsWatch::on(this, prefs,
                   {Prefs::Key::cameraBurn, Prefs::Key::cameraShape, Prefs::Key::cameraRadius,
                    Prefs::Key::cameraPreviewW},
                   [this, mode, shape] {
                       mode->update();
                       shape->update();
                       refresh();
                   });
}

QString CameraPane::radiusText(double radius, int shape)
{
    if (shape == kCircle)
        return QStringLiteral("—");
    // Half away from zero: 0.125 reads 25%.
    return QString::number(qint64(std::round(radius * 200))) + QLatin1Char('%');
}

void CameraPane::refresh()
{
    m_modeRow->setDesc(m_prefs.cameraBurn()
                           ? Loc::text(QStringLiteral("Camera window is embedded in the recording, creating one file. The window's "
                                 "position and size in the recording match what's on screen."))
                           : Loc::text(QStringLiteral("Camera and screen are saved as separate files for editing later.")));
    const int shape = m_prefs.cameraShape();
    const bool circle = shape == kCircle;
    m_radiusRow->setDesc(circle ? Loc::text(QStringLiteral("Circle shape has no adjustable corners."))
                                : Loc::text(QStringLiteral("Adjust from sharp to rounded.")));
    m_radius->setEnabled(!circle);
    SliderLine::showValue(m_radius, int(std::lround(m_prefs.cameraRadius() * kRadiusSteps)));
    m_radiusText->setText(radiusText(m_prefs.cameraRadius(), shape));
    const double width = m_prefs.cameraPreviewW();
    SliderLine::showValue(m_size, int(std::lround(width / kWidthStep)));
    m_sizeText->setText(QString::number(qint64(width)));
}

} // namespace corvessa
