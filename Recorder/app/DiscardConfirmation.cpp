#include "app/DiscardConfirmation.h"

#include "model/ConfirmationService.h"
#include "model/RecorderModel.h"
#include "prefs/Loc.h"

namespace corvessa {

DiscardConfirmation::Question DiscardConfirmation::question(bool restart)
{
    if (restart)
        return {Loc::text(QStringLiteral("Restart Recording?")),
                Loc::text(QStringLiteral("Current recording will not be saved; recording will restart immediately.")),
                Loc::text(QStringLiteral("Don't Save, Restart"))};
    return {Loc::text(QStringLiteral("Cancel Recording?")),
            Loc::text(QStringLiteral("Current recording will be deleted and not saved.")),
            Loc::text(QStringLiteral("Delete and Cancel"))};
}

void DiscardConfirmation::ask(RecorderModel& model, bool restart)
{
    const auto& confirm = model.dependencies().confirm;
    if (!model.phase().isLive() || (confirm && confirm->isShowing()))
        return;
    const Question q = question(restart);
    if (model.askPaused(q.title, q.message, q.ok))
        model.discard(restart);
}

} // namespace corvessa
