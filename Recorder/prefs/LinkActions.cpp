#include "prefs/LinkActions.h"

#include "platform/core/RecorderLog.h"
#include "prefs/Loc.h"

#include <QDesktopServices>

#include <utility>

#ifndef CORVESSA_VERSION
#define CORVESSA_VERSION ""
#endif
#ifndef CORVESSA_BUILD_NUMBER
#define CORVESSA_BUILD_NUMBER ""
#endif

namespace corvessa {

namespace {

// The site's root, or its Chinese section.
QString base(const QString& languageCode)
{
    const QString site = QString::fromLatin1(LinkActions::siteAddress);
    return languageCode.startsWith(QLatin1String("zh")) ? site + QStringLiteral("/zh") : site;
}

} // namespace

LinkActions::LinkActions(Opener opener)
    : m_opener(std::move(opener))
{
    if (!m_opener)
        m_opener = [](const QUrl& url) { return QDesktopServices::openUrl(url); };
}

QUrl LinkActions::websiteUrl(const QString& languageCode)
{
    // The home page is "/" or "/zh" (the section's page itself, no trailing slash).
    if (languageCode.startsWith(QLatin1String("zh")))
        return QUrl(base(languageCode));
    return QUrl(base(languageCode) + QLatin1Char('/'));
}

QUrl LinkActions::guideUrl(const QString& languageCode)
{
    return QUrl(base(languageCode) + QStringLiteral("/guide"));
}

QUrl LinkActions::privacyUrl(const QString& languageCode)
{
    return QUrl(base(languageCode) + QStringLiteral("/privacy"));
}

QUrl LinkActions::termsUrl(const QString& languageCode)
{
    return QUrl(base(languageCode) + QStringLiteral("/terms"));
}

QUrl LinkActions::supportUrl(const QString& version)
{
    // The version goes in encoded, so odd characters cannot break the query.
    const QString subject = QStringLiteral("Corvessa%20") + QString::fromLatin1(QUrl::toPercentEncoding(version))
        + QStringLiteral("%20support");
    return QUrl(QStringLiteral("mailto:") + QLatin1String(supportAddress) + QStringLiteral("?subject=") + subject,
                QUrl::StrictMode);
}

QString LinkActions::version()
{
    const QString v = QStringLiteral(CORVESSA_VERSION);
    return v.isEmpty() ? QStringLiteral("dev") : v;
}

QString LinkActions::build()
{
    const QString b = QStringLiteral(CORVESSA_BUILD_NUMBER);
    return b.isEmpty() ? QStringLiteral("0") : b;
}

void LinkActions::openWebsite() const
{
    open(websiteUrl(Loc::code()));
}

void LinkActions::openGuide() const
{
    open(guideUrl(Loc::code()));
}

void LinkActions::openPrivacy() const
{
    open(privacyUrl(Loc::code()));
}

void LinkActions::openTerms() const
{
    open(termsUrl(Loc::code()));
}

void LinkActions::mailSupport() const
{
    open(supportUrl(version()));
}

void LinkActions::open(const QUrl& url) const
{
    if (!m_opener(url))
        RecorderLog::write(QStringLiteral("[app] no program took the address ") + url.toString());
}

} // namespace corvessa
