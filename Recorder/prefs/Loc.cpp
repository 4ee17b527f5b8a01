#include "prefs/Loc.h"

#include "platform/core/UserDefaults.h"
#include "prefs/KeyBinding.h"
#include "prefs/LocNotifier.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QtDebug>

#include <algorithm>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace corvessa {

namespace {

const QString kPlaceholder = QStringLiteral("%@");
const QString kLanguageKey = QStringLiteral("language");
const QString kAppleLanguagesKey = QStringLiteral("AppleLanguages");
const QString kAuto = QStringLiteral("auto");
const QString kEnglish = QStringLiteral("en");

struct Pattern {
    QRegularExpression re;
    QString tmpl; // the key's translation
};

// Everything a lookup reads, built whole by load() and never changed afterwards.
struct Snapshot {
    QString code = kEnglish;
    QHash<QString, QString> table;
    std::vector<Pattern> patterns;
};

struct State {
    std::mutex mutex; // guards only the two members below, held for a copy
    std::shared_ptr<const Snapshot> snapshot = std::make_shared<const Snapshot>();
    QString tableDirectory = QStringLiteral(":/lang");
};

State& state()
{
    static State s;
    return s;
}

std::shared_ptr<const Snapshot> current()
{
    State& s = state();
    std::lock_guard lock(s.mutex);
    return s.snapshot;
}

// Reads a table file: a flat JSON object of strings. Anything else gives nothing.
std::optional<QHash<QString, QString>> readTable(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(file.readAll(), &error);
    if (error.error != QJsonParseError::NoError) {
        qWarning().noquote() << "[lang] unreadable table" << path << error.errorString();
        return std::nullopt;
    }
    if (!doc.isObject()) {
        qWarning().noquote() << "[lang] table" << path << "is not a JSON object";
        return std::nullopt;
    }
    const QJsonObject object = doc.object();
    QHash<QString, QString> table;
    table.reserve(object.size());
    for (auto it = object.begin(); it != object.end(); ++it) {
        if (!it.value().isString()) {
            qWarning().noquote() << "[lang] table" << path << "has a non-text value for" << it.key();
            return std::nullopt;
        }
        table.insert(it.key(), it.value().toString());
    }
    return table;
}

// A key with placeholders becomes an expression matching the English line that
// fill() makes from it: literal pieces, a lazy capture per placeholder.
std::optional<QRegularExpression> patternFor(const QString& key)
{
    QStringList pieces = key.split(kPlaceholder);
    for (QString& piece : pieces) {
        // The formatted line has had its "%%" turned into "%" by fill().
        piece.replace(QStringLiteral("%%"), QStringLiteral("%"));
        piece = QRegularExpression::escape(piece);
    }
    // \A...\z rather than ^...$: "$" would also match before a final line break
    // and drop it from the last capture.
    QRegularExpression re(QRegularExpression::anchoredPattern(pieces.join(QStringLiteral("(.+?)"))),
                          QRegularExpression::DotMatchesEverythingOption);
    // Compiles now, so threads that match later only read it.
    re.optimize();
    if (!re.isValid())
        return std::nullopt;
    return re;
}

std::shared_ptr<const Snapshot> buildSnapshot(const QString& code, const QString& directory)
{
    auto snapshot = std::make_shared<Snapshot>();
    snapshot->code = code;

    // English has a table too: it holds only the texts whose key names the
    // other platform's programs or places, in the words of this one.
    const QString path = directory + QLatin1Char('/') + code + QStringLiteral(".json");
    if (!QFile::exists(path))
        return snapshot;
    auto table = readTable(path);
    if (!table)
        return snapshot;
    // Key combinations written with the other platform's symbols read as here.
    for (QString& value : *table)
        value = KeyBinding::linuxForm(value);
    snapshot->table = std::move(*table);

    // More literal text first, so a specific key wins over a general one that
    // could match the same line; the key breaks ties, so the order is stable.
    QStringList keys;
    for (auto it = snapshot->table.cbegin(); it != snapshot->table.cend(); ++it) {
        if (it.key().contains(kPlaceholder))
            keys.append(it.key());
    }
    auto literalLength = [](const QString& key) { return key.size() - 2 * key.count(kPlaceholder); };
    std::sort(keys.begin(), keys.end(), [&](const QString& a, const QString& b) {
        const qsizetype la = literalLength(a), lb = literalLength(b);
        return la != lb ? la > lb : a < b;
    });
    for (const QString& key : keys) {
        if (auto re = patternFor(key))
            snapshot->patterns.push_back({std::move(*re), snapshot->table.value(key)});
        else
            qWarning().noquote() << "[lang] no reverse pattern for" << key;
    }
    return snapshot;
}

bool isAvailable(const QString& code)
{
    const QList<Loc::Lang>& languages = Loc::available();
    return std::any_of(languages.begin(), languages.end(), [&](const Loc::Lang& l) { return l.code == code; });
}

// "fr_CA.UTF-8@euro" -> "fr-CA"; "C" and "POSIX" give nothing.
QString fromPosixLocale(QString name)
{
    const qsizetype cut = name.indexOf(QRegularExpression(QStringLiteral("[.@]")));
    if (cut >= 0)
        name.truncate(cut);
    name = name.trimmed();
    if (name.isEmpty() || name == QLatin1String("C") || name == QLatin1String("POSIX"))
        return {};
    name.replace(QLatin1Char('_'), QLatin1Char('-'));
    return name;
}

} // namespace

const QList<Loc::Lang>& Loc::available()
{
    static const QList<Lang> languages = {
        {QStringLiteral("en"), QStringLiteral("English")},
        {QStringLiteral("zh-Hans"), QStringLiteral("简体中文")},
        {QStringLiteral("zh-Hant"), QStringLiteral("繁體中文")},
        {QStringLiteral("ja"), QStringLiteral("日本語")},
        {QStringLiteral("ko"), QStringLiteral("한국어")},
        {QStringLiteral("es"), QStringLiteral("Español")},
        {QStringLiteral("fr"), QStringLiteral("Français")},
        {QStringLiteral("de"), QStringLiteral("Deutsch")},
        {QStringLiteral("pt-BR"), QStringLiteral("Português (Brasil)")},
        {QStringLiteral("ru"), QStringLiteral("Русский")},
        {QStringLiteral("it"), QStringLiteral("Italiano")},
        {QStringLiteral("ar"), QStringLiteral("العربية")},
    };
    return languages;
}

QString Loc::code()
{
    return current()->code;
}

QHash<QString, QString> Loc::table()
{
    return current()->table;
}

QString Loc::text(const QString& english)
{
    const auto snapshot = current();
    if (const auto it = snapshot->table.constFind(english); it != snapshot->table.cend())
        return it.value();
    return KeyBinding::linuxForm(english);
}

QString Loc::preference()
{
    return UserDefaults::standard().string(kLanguageKey).value_or(kAuto);
}

void Loc::load()
{
    const QString resolved = resolve(preference());
    auto snapshot = buildSnapshot(resolved, tableDirectory());

    State& s = state();
    std::lock_guard lock(s.mutex);
    s.snapshot = std::move(snapshot);
}

QString Loc::resolve(const QString& preference)
{
    // An explicit choice needs no look at the system.
    if (isAvailable(preference))
        return preference;
    return resolve(preference, preferredLanguages());
}

QString Loc::resolve(const QString& preference, const QStringList& systemLanguages)
{
    if (isAvailable(preference))
        return preference;

    for (const QString& entry : systemLanguages) {
        if (entry.startsWith(QLatin1String("zh"))) {
            for (const char* mark : {"Hant", "-TW", "-HK", "-MO"}) {
                if (entry.contains(QLatin1String(mark)))
                    return QStringLiteral("zh-Hant");
            }
            return QStringLiteral("zh-Hans");
        }
        if (entry.startsWith(QLatin1String("pt")))
            return QStringLiteral("pt-BR");
        const QString base = entry.section(QLatin1Char('-'), 0, 0);
        if (isAvailable(base))
            return base;
    }
    return kEnglish;
}

bool Loc::choose(const QString& code)
{
    if (code != kAuto && !isAvailable(code)) {
        qWarning().noquote() << "[lang] unknown language code" << code << "- keeping the current language";
        return false;
    }

    UserDefaults& defaults = UserDefaults::standard();
    defaults.setString(kLanguageKey, code);
    if (code == kAuto)
        defaults.remove(kAppleLanguagesKey);
    else
        defaults.setStringArray(kAppleLanguagesKey, {code});
    load();
    LocNotifier::instance().post();
    return true;
}

QStringList Loc::preferredLanguages()
{
    if (auto stored = UserDefaults::standard().stringArray(kAppleLanguagesKey); stored && !stored->isEmpty())
        return *stored;

    QStringList result;
    auto add = [&](const QString& posix) {
        const QString tag = fromPosixLocale(posix);
        if (!tag.isEmpty() && !result.contains(tag))
            result.append(tag);
    };
    for (const QString& entry : qEnvironmentVariable("LANGUAGE").split(QLatin1Char(':'), Qt::SkipEmptyParts))
        add(entry);
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const QString value = qEnvironmentVariable(name);
        if (!value.isEmpty()) {
            add(value);
            break;
        }
    }
    if (result.isEmpty())
        result.append(kEnglish);
    return result;
}

QString Loc::fill(const QString& tmpl, const QVariantList& args)
{
    QStringList texts;
    texts.reserve(args.size());
    for (const QVariant& arg : args)
        texts.append(argText(arg));
    return fillTexts(tmpl, texts);
}

QString Loc::fillTexts(const QString& tmpl, const QStringList& args)
{
    QString result;
    result.reserve(tmpl.size());
    qsizetype next = 0;
    qsizetype from = 0;
    for (qsizetype at; (at = tmpl.indexOf(kPlaceholder, from)) >= 0; from = at + kPlaceholder.size()) {
        result += QStringView(tmpl).mid(from, at - from);
        if (next < args.size())
            result += args.at(next++);
    }
    result += QStringView(tmpl).mid(from);
    result.replace(QStringLiteral("%%"), QStringLiteral("%"));
    return result;
}

QString Loc::reverse(const QString& english)
{
    const auto snapshot = current();
    if (auto it = snapshot->table.constFind(english); it != snapshot->table.cend())
        return it.value();
    for (const Pattern& pattern : snapshot->patterns) {
        const QRegularExpressionMatch match = pattern.re.match(english);
        if (!match.hasMatch())
            continue;
        QStringList captured;
        for (int group = 1; group <= pattern.re.captureCount(); ++group)
            captured.append(match.captured(group));
        return fillTexts(pattern.tmpl, captured);
    }
    return english;
}

void Loc::setTableDirectory(const QString& directory)
{
    State& s = state();
    std::lock_guard lock(s.mutex);
    s.tableDirectory = directory;
}

QString Loc::tableDirectory()
{
    State& s = state();
    std::lock_guard lock(s.mutex);
    return s.tableDirectory;
}

} // namespace corvessa
