#pragma once

#include <QHash>
#include <QList>
#include <QLocale>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVariantList>

#include <concepts>
#include <type_traits>

namespace corvessa {

// The program's interface languages. The English text written in the code is the
// key: every user-visible literal is looked up in a flat table loaded from
// "<tableDirectory>/<code>.json", and the English text shows when there is no
// entry. English has a small table of its own: the texts whose key names the
// other platform's programs or places, in this platform's words. Key
// combinations written with the other platform's symbols are shown as
// KeyBinding writes them ("Ctrl+Alt+R"), whichever text they come from.
// Templates carry "%@" placeholders filled in order by fill().
//
// The language state (code, table, reverse patterns) is one immutable snapshot
// swapped as a whole on load(), so the engine and audio threads can look texts up
// while the main thread switches languages.
class Loc {
public:
    struct Lang {
        QString code;
        QString name; // the language's own name, shown untranslated
        bool operator==(const Lang&) const = default;
    };

    // Name of the language-changed notification (see LocNotifier).
    static inline const QString changedNotification = QStringLiteral("CorvessaLanguageChanged");

    Loc() = delete;

    // The twelve languages offered, English first.
    static const QList<Lang>& available();

    // The resolved language code in use ("en" until load() runs).
    static QString code();
    // English text -> translation for the language in use (for English, only
    // the texts it words for this platform).
    static QHash<QString, QString> table();

    // The table entry for the English text, or the English text itself.
    // Either way with its key combinations in this platform's form.
    static QString text(const QString& english);

    // Marks an English text as a translation key without looking it up, for texts
    // kept in tables and passed through text() later. scripts/lang_keys.py finds it.
    static constexpr const char* mark(const char* english) { return english; }

    // The stored "language" preference: "auto" or one of the codes ("auto" when missing).
    static QString preference();

    // Reads the preference, resolves it and rebuilds the state. A missing or
    // malformed table leaves English texts.
    static void load();

    // A supported code for a preference value: the value itself when it is one of
    // the codes, else the first usable system language, else "en".
    static QString resolve(const QString& preference);
    static QString resolve(const QString& preference, const QStringList& systemLanguages);

    // Stores the choice ("auto" or one of the codes), reloads and announces the
    // change through LocNotifier. An unknown code changes nothing and returns false.
    static bool choose(const QString& code);

    // The system's preferred languages in BCP 47 form (e.g. "fr-CA"): the
    // "AppleLanguages" user default when set, else LANGUAGE, LC_ALL, LC_MESSAGES
    // and LANG; ["en"] when nothing usable is set.
    static QStringList preferredLanguages();

    // Fills each "%@" with the next argument (a missing one gives nothing, surplus
    // ones are ignored), then turns every "%%" of the result into "%".
    static QString fill(const QString& tmpl, const QVariantList& args);
    template <typename... Args>
        requires(sizeof...(Args) != 1 || !(std::same_as<std::remove_cvref_t<Args>, QVariantList> && ...))
    static QString fill(const QString& tmpl, const Args&... args)
    {
        return fillTexts(tmpl, QStringList{argText(args)...});
    }

    // Translates an already formatted English line: a table entry for the whole
    // line, else the first key pattern it matches, filled with what it captured.
    static QString reverse(const QString& english);

    // Where the tables are read from; ":/lang" (the compiled-in resources) unless a
    // test points it elsewhere.
    static void setTableDirectory(const QString& directory);
    static QString tableDirectory();

private:
    static QString fillTexts(const QString& tmpl, const QStringList& args);

    static QString argText(const QString& s) { return s; }
    static QString argText(const char* s) { return QString::fromUtf8(s); }
    static QString argText(QStringView s) { return s.toString(); }
    static QString argText(QLatin1StringView s) { return QString(s); }
    static QString argText(const QVariant& v) { return v.toString(); }
    static QString argText(bool b) { return b ? QStringLiteral("true") : QStringLiteral("false"); }
    static QString argText(QChar c) { return QString(c); }
    static QString argText(char c) { return QString(QLatin1Char(c)); }
    template <std::integral T>
    static QString argText(T n) { return QString::number(n); }
    template <std::floating_point T>
    static QString argText(T n) { return QString::number(double(n), 'g', QLocale::FloatingPointShortest); }
    template <typename T>
        requires(!std::integral<T> && !std::floating_point<T> && !std::is_convertible_v<const T&, QString>)
    static QString argText(const T& v) { return QVariant::fromValue(v).toString(); }
};

} // namespace corvessa
