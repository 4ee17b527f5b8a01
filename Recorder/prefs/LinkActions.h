#pragma once

#include <QString>
#include <QUrl>

#include <functional>

namespace corvessa {

// The product's web pages and support address, opened in the default browser
// or mail program. Pages of an interface language whose code begins with "zh"
// lie under the site's "/zh" section. Main thread.
class LinkActions {
public:
    // Hands an address to the desktop; true when something took it.
    using Opener = std::function<bool(const QUrl&)>;

    static constexpr const char* siteAddress = "https://corvessa.app";
    static constexpr const char* supportAddress = "support@corvessa.app";
    static constexpr const char* githubProfileAddress = "https://github.com/corvessa";

    // Without an opener the desktop's (QDesktopServices) is used.
    explicit LinkActions(Opener opener = {});

    // For the interface language `languageCode`.
    static QUrl websiteUrl(const QString& languageCode);
    static QUrl guideUrl(const QString& languageCode);
    static QUrl privacyUrl(const QString& languageCode);
    static QUrl termsUrl(const QString& languageCode);
    // mailto: with the subject "Corvessa <version> support".
    static QUrl supportUrl(const QString& version);
    // The program's version and build number as the build set them; "dev" and
    // "0" when it set none.
    static QString version();
    static QString build();

    // In the interface language in use.
    void openWebsite() const;
    void openGuide() const;
    void openPrivacy() const;
    void openTerms() const;
    void mailSupport() const;
    // Any address; a failure is logged.
    void open(const QUrl& url) const;

private:

    Opener m_opener;
};

} // namespace corvessa
