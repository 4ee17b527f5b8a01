#include "toolbar/SavedRow.h"

#include "model/RecorderModel.h"
#include "prefs/Loc.h"
#include "toolbar/BarElements.h"
#include "toolbar/kit/IconTile.h"
#include "toolbar/kit/TileButton.h"

#include <QDir>
#include <QFileInfo>
#include <QPointer>

#include <optional>

namespace corvessa {

SavedRow::SavedRow(const BarElements& elements, std::function<void()> changed, QWidget* parent)
    : BarRow(elements, parent)
    , m_changed(std::move(changed))
{
}

void SavedRow::build()
{
    RecorderModel& model = m_elements.model();
    // A movie that lacks some of its sound, or a track asked for, is saved,
    // but not as a plain success.
    const auto& sound = model.soundNotice();
    add(sound || model.trackLeftOut() ? m_elements.glyphBox(QStringLiteral("exclamationmark.triangle.fill"), IconTile::orange())
              : m_elements.glyphBox(QStringLiteral("checkmark.circle.fill"), BarElements::green()));
    const QString movie = model.phase().url;
    std::optional<QString> notice = model.screenNotice() ? model.screenNotice() : model.cameraNotice();
    if (sound)
        notice = notice ? *notice + QLatin1Char(' ') + *sound : *sound;
    if (m_revealFailed == movie) {
        // Said in place of a notice the user has read already.
        const QString folder = QDir::toNativeSeparators(QFileInfo(movie).absolutePath());
        QWidget* text = m_elements.textLabel(
            Loc::fill(Loc::text(QStringLiteral("The folder could not be opened: %@")), folder), 12,
            IconTile::orange(), 300, true);
        text->setObjectName(QStringLiteral("revealFailed"));
        add(text);
    } else if (notice) {
        QWidget* text = m_elements.textLabel(*notice, 12, IconTile::orange(), 300, true);
        text->setObjectName(QStringLiteral("notice"));
        add(text);
    }
    auto* show = m_elements.actionLabel(QStringLiteral("folder"), Loc::text(QStringLiteral("Show in Finder")),
                                        [this, &model, movie] {
        QStringList paths{movie};
        for (const QString& file : model.cameraFiles())
            paths << file;
        const BarServices& services = m_elements.services();
        if (!services.reveal) {
            model.backToReady();
            return;
        }
        // The row stays until the files are shown, so that a failure can be said on it.
        services.reveal(paths, [row = QPointer<SavedRow>(this), movie](bool shown) {
            if (row)
                row->revealDone(movie, shown);
        });
    }, QStringLiteral("showInFolder"));
    m_elements.tip(show, QStringLiteral("Show in Finder"));
    add(show);
    add(m_elements.closeButton(QStringLiteral("Close")));
}

void SavedRow::revealDone(const QString& movie, bool shown)
{
    RecorderModel& model = m_elements.model();
    // The user may have moved on (closed the row, started recording) meanwhile.
    if (!model.phase().is(RecorderPhase::Kind::saved) || model.phase().url != movie)
        return;
    if (shown) {
        model.backToReady();
        return;
    }
    m_revealFailed = movie;
    if (m_changed)
        m_changed();
}

} // namespace corvessa
