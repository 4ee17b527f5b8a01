#include "settings/PermissionsPane.h"

#include "model/RecorderModel.h"
#include "platform/DesktopSettingsProgram.h"
#include "prefs/Loc.h"
#include "settings/SettingRow.h"
#include "settings/SettingsLayout.h"
#include "toolbar/kit/Symbols.h"

#include <QGridLayout>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>

#include <utility>

namespace corvessa {

namespace {

constexpr int kRefreshMs = 500;
const QColor kWarn(255, 199, 0);
const QColor kGreen(52, 199, 89);


QString kindName(Permissions::Kind kind)
{
    switch (kind) {
    case Permissions::Kind::screen:
        return QStringLiteral("screen");
    case Permissions::Kind::microphone:
        return QStringLiteral("microphone");
    case Permissions::Kind::camera:
        break;
    }
    return QStringLiteral("camera");
}

} // namespace

PermissionsPane::PermissionsPane(std::shared_ptr<Permissions> permissions, RecorderModel* model,
                                 QString settingsProgram, QWidget* parent)
    : QWidget(parent)
    , m_permissions(std::move(permissions))
    , m_model(model)
    , m_settingsProgram(std::move(settingsProgram))
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    m_rows.reserve(3);
    addRow(Permissions::Kind::screen, Loc::text(QStringLiteral("Screen Recording")),
           Loc::text(QStringLiteral("Required for Screen Recording. Also covers System Audio.")), QStringLiteral("Privacy_ScreenCapture"));
    addRow(Permissions::Kind::microphone, Loc::text(QStringLiteral("Microphone")),
           Loc::text(QStringLiteral("Records your voice. Turn it off if you don't need it.")), QStringLiteral("Privacy_Microphone"));
    addRow(Permissions::Kind::camera, Loc::text(QStringLiteral("Camera")), Loc::text(QStringLiteral("Records your face. Turn it off if you don't need it.")),
           QStringLiteral("Privacy_Camera"));

    auto* footnote = new QLabel(Loc::text(QStringLiteral("Permissions are requested only when you click “Grant Access”.")), this);
    footnote->setWordWrap(true);
    SettingsLayout::greyText(footnote);
    // Under the status column.
    auto* footLine = new QHBoxLayout;
    footLine->setContentsMargins(SettingsLayout::controlIndent, 12, 0, 0);
    footLine->addWidget(footnote, 1);
    layout->addLayout(footLine);

    m_timer.setInterval(kRefreshMs);
    connect(&m_timer, &QTimer::timeout, this, &PermissionsPane::tick);
    refresh();
}

PermissionsPane::State PermissionsPane::stateOf(Permissions::Kind kind, Permissions::Access access)
{
    switch (access) {
    case Permissions::Access::granted:
        return State::granted;
    case Permissions::Access::denied:
        // The screen's check only tells granted or not: asking again is the way on.
        return kind == Permissions::Kind::screen ? State::undetermined : State::denied;
    case Permissions::Access::notDetermined:
        break;
    }
    return State::undetermined;
}

void PermissionsPane::addRow(Permissions::Kind kind, const QString& title, const QString& detail, const QString& page)
{
    auto* block = new QWidget(this);
    auto* grid = new QGridLayout(block);
    grid->setContentsMargins(0, 8, 0, 8);
    grid->setHorizontalSpacing(SettingRow::spacing);
    grid->setVerticalSpacing(4);

    Row row{kind, page, detail};
    auto* titleLabel = new QLabel(title, block);
    titleLabel->setFixedWidth(SettingRow::titleWidth);
    titleLabel->setWordWrap(true);
    grid->addWidget(titleLabel, 0, 0, Qt::AlignLeft | Qt::AlignVCenter);

    auto* status = new QWidget(block);
    auto* statusLine = new QHBoxLayout(status);
    statusLine->setContentsMargins(0, 0, 0, 0);
    statusLine->setSpacing(4);
    row.statusIcon = new QLabel(status);
    row.status = new QLabel(status);
    row.status->setObjectName(QStringLiteral("status-") + kindName(kind));
    statusLine->addWidget(row.statusIcon);
    statusLine->addWidget(row.status);
    status->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    grid->addWidget(status, 0, 1, Qt::AlignLeft | Qt::AlignVCenter);

    row.button = new QPushButton(block);
    row.button->setObjectName(QStringLiteral("button-") + kindName(kind));
    grid->addWidget(row.button, 0, 2, Qt::AlignLeft | Qt::AlignVCenter);
    grid->setColumnStretch(2, 1);

    row.detailLabel = new QLabel(detail, block);
    row.detailLabel->setWordWrap(true);
    row.detailLabel->setObjectName(QStringLiteral("detail-") + kindName(kind));
    SettingsLayout::greyText(row.detailLabel);
    grid->addWidget(row.detailLabel, 1, 1, 1, 2);

    const size_t index = m_rows.size();
    connect(row.button, &QPushButton::clicked, this, [this, index] { press(m_rows[index]); });
    m_rows.push_back(row);
    layout()->addWidget(block);
}

void PermissionsPane::refresh()
{
    const QPalette plain = palette();
    for (Row& row : m_rows) {
        row.state = stateOf(row.kind, m_permissions->access(row.kind));
        const bool granted = row.state == State::granted;
        const QColor tint = granted ? kGreen : kWarn;
        row.statusIcon->setPixmap(Symbols::pixmap(granted ? QStringLiteral("checkmark.circle.fill")
                                                          : QStringLiteral("exclamationmark.circle.fill"),
                                                  13, tint, devicePixelRatioF()));
        row.status->setText(granted ? Loc::text(QStringLiteral("Granted")) : Loc::text(QStringLiteral("Not Granted")));
        SettingsLayout::setTextColour(row.status, tint);

        const bool grant = row.state == State::undetermined;
        row.button->setText(grant ? Loc::text(QStringLiteral("Grant Access")) : Loc::text(QStringLiteral("Open System Settings")));
        row.button->setEnabled(grant || !m_settingsProgram.isEmpty());
        row.button->setToolTip(row.button->isEnabled() ? QString()
                                                       : Loc::text(QStringLiteral("No settings program of this desktop was found.")));
        // Prominent: the accent colour, except for a granted row.
        QPalette buttonPalette = plain;
        if (!granted && row.button->isEnabled()) {
            for (const auto group : {QPalette::Active, QPalette::Inactive}) {
                buttonPalette.setColor(group, QPalette::Button, plain.color(group, QPalette::Highlight));
                buttonPalette.setColor(group, QPalette::ButtonText, plain.color(group, QPalette::HighlightedText));
            }
        }
        row.button->setPalette(buttonPalette);

        // A camera node that refuses us is almost always a missing group membership.
        QString detail = row.detail;
        if (row.kind == Permissions::Kind::camera && row.state == State::denied)
            detail += QLatin1Char(' ')
                + Loc::text(QStringLiteral("The camera refused to open: add your account to the \"video\" group and log in again."));
        row.detailLabel->setText(detail);
    }
}

void PermissionsPane::press(const Row& row)
{
    if (row.state == State::undetermined) {
        grant(row.kind);
        return;
    }
    // Logged by the service; Linux has no privacy page, so the desktop's settings open.
    m_permissions->openSettings(row.page);
    DesktopSettingsProgram::start(m_settingsProgram);
}

void PermissionsPane::grant(Permissions::Kind kind)
{
    QPointer<PermissionsPane> self(this);
    const auto again = [self] {
        if (self)
            self->refresh();
    };
    if (m_model) {
        switch (kind) {
        case Permissions::Kind::screen:
            m_model->perm().requestScreen();
            break;
        case Permissions::Kind::microphone:
            m_model->perm().requestMic(again);
            break;
        case Permissions::Kind::camera:
            m_model->perm().requestCamera(again);
            break;
        }
    } else {
        // The answer may come on another thread; the next refresh shows it.
        m_permissions->request(kind, [](Permissions::Access) {});
    }
    refresh();
}

void PermissionsPane::tick()
{
    // Each probe may open a connection to the sound server: the states are
    // read every 0.5 s, the model's devices and flags only every second.
    if (m_model && m_ticks++ % 2 == 0)
        m_model->refreshPermissions();
    refresh();
}

void PermissionsPane::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    m_ticks = 0;
    tick();
    m_timer.start();
}

void PermissionsPane::hideEvent(QHideEvent* event)
{
    m_timer.stop();
    QWidget::hideEvent(event);
}

} // namespace corvessa
