#include "settings/RecordingPane.h"

#include "prefs/Loc.h"
#include "prefs/Prefs.h"
#include "prefs/VideoQuality.h"
#include "settings/CaptureFormatSettings.h"
#include "settings/GatedSegmented.h"
#include "settings/PrefsWatch.h"
#include "settings/RecordingEstimate.h"
#include "settings/SettingRow.h"
#include "settings/SliderLine.h"

#include <QLabel>
#include <QSlider>
#include <QVBoxLayout>

#include <cmath>

namespace corvessa {

namespace {

constexpr int kTierWidth = 380;
constexpr int kRateTextWidth = 96;
// The slider counts half megabits.
constexpr int kStepsPerMbps = 2;

} // namespace

RecordingPane::RecordingPane(Prefs& prefs, RecorderModel* model, QWidget* parent)
    : QWidget(parent)
    , m_prefs(prefs)
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    if (model)
        layout->addWidget(new CaptureFormatSettings(*model, prefs, false, this));

    const QStringList names = VideoQuality::names();
    std::vector<GatedSegmented::Item> items;
    for (int t = VideoQuality::low; t <= VideoQuality::custom; ++t)
        items.push_back({names[t], {}, t});
    m_tiers = new GatedSegmented([&prefs] { return RecordingEstimate::shownTier(prefs.qualityTier()); },
                                 [&prefs](int tier) { prefs.setQualityTier(tier); }, items, this);
    m_tiers->setFixedWidth(kTierWidth);
    layout->addWidget(new SettingRow(
        Loc::text(QStringLiteral("Quality")),
        Loc::text(QStringLiteral("Higher quality means a larger file. Still scenes produce much smaller files.")),
        m_tiers, this));

    QWidget* rateBox = SliderLine::make(m_bitrate, m_bitrateText, this, kRateTextWidth, false);
    m_bitrate->setRange(int(VideoQuality::customMinMbps * kStepsPerMbps),
                        int(VideoQuality::customMaxMbps * kStepsPerMbps));
    m_bitrate->setAccessibleName(Prefs::name(Prefs::Key::customMbps));
    connect(m_bitrate, &QSlider::valueChanged, this,
            [&prefs](int steps) { prefs.setCustomMbps(double(steps) / kStepsPerMbps); });
    m_bitrateRow = new SettingRow(Loc::text(QStringLiteral("Average Bitrate")),
                                  Loc::text(QStringLiteral("Higher values give a clearer image and a larger file.")),
                                  rateBox, this);
    layout->addWidget(m_bitrateRow);

    m_estimate = new QLabel(this);
    QFont big = m_estimate->font();
    big.setPixelSize(20);
    big.setWeight(QFont::DemiBold);
    m_estimate->setFont(big);
    m_estimateRow = new SettingRow(Loc::text(QStringLiteral("Estimated Size for 10 Minutes")), {}, m_estimate, this);
    layout->addWidget(m_estimateRow);

    PrefsWatch::on(this, prefs,
                   {Prefs::Key::qualityTier, Prefs::Key::customMbps, Prefs::Key::outputSize, Prefs::Key::fps},
                   [this] { refresh(); });
}

QString RecordingPane::estimateText() const
{
    return m_estimate->text();
}

void RecordingPane::refresh()
{
    const int tier = m_prefs.qualityTier();
    const double custom = m_prefs.customMbps();
    m_tiers->update();
    // A stored tier above Custom is recorded at the custom rate, so it shows it.
    m_bitrateRow->setVisible(RecordingEstimate::shownTier(tier) == VideoQuality::custom);
    SliderLine::showValue(m_bitrate, int(std::lround(custom * kStepsPerMbps)));
    // Formatted without the locale: never a decimal comma.
    m_bitrateText->setText(QString::asprintf("%.1f Mbps", custom));

    const VideoDimensions size = Prefs::outputPixels(m_prefs.outputSize());
    const int fps = m_prefs.fps();
    m_estimate->setText(
        RecordingEstimate::rangeText(RecordingEstimate::forTier(tier, custom, size.width, size.height, fps)));
    m_estimateRow->setDesc(RecordingEstimate::explanation(tier, custom, size.width, size.height, fps));
}

} // namespace corvessa
