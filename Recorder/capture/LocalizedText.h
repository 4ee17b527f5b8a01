#pragma once

#include "capture/TextLookup.h"

#include <QString>
#include <QStringList>

namespace corvessa {

// The interface text for an English key through the caller's lookup (the
// English text itself without a lookup or an entry), with each "%@" filled by
// the next argument (nothing once they run out) and then "%%" turned into "%",
// as the translation tables expect.
QString localizedText(const TextLookup& text, const QString& english, const QStringList& args = {});

} // namespace corvessa
