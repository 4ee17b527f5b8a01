#include "prefs/Loc.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>

#include <cctype>

#include <gtest/gtest.h>

using namespace corvessa;
using namespace Qt::StringLiterals;

namespace {

bool isIdentChar(QChar c)
{
    return c.isLetterOrNumber() || c == u'_';
}

// The text of an ordinary literal's body. In a narrow (UTF-8) literal \x and octal
// escapes are bytes; in a u"" or L"" literal they are code units.
QString unescape(QStringView body, bool narrow)
{
    QByteArray out;
    auto put = [&](uint code, bool rawByte) {
        if (rawByte && narrow)
            out.append(char(code & 0xff));
        else
            out.append(QString::fromUcs4(reinterpret_cast<const char32_t*>(&code), 1).toUtf8());
    };
    for (qsizetype i = 0; i < body.size();) {
        if (body[i] != u'\\') {
            const qsizetype start = i;
            while (i < body.size() && body[i] != u'\\')
                ++i;
            out.append(body.mid(start, i - start).toUtf8());
            continue;
        }
        const QChar e = i + 1 < body.size() ? body[i + 1] : QChar(u'\\');
        i += 2;
        if (e >= u'0' && e <= u'7') {
            uint code = e.unicode() - u'0';
            for (int n = 0; n < 2 && i < body.size() && body[i] >= u'0' && body[i] <= u'7'; ++n, ++i)
                code = code * 8 + (body[i].unicode() - u'0');
            put(code, true);
        } else if (e == u'x') {
            uint code = 0;
            for (; i < body.size() && isxdigit(body[i].toLatin1()); ++i)
                code = code * 16 + QString(body[i]).toUInt(nullptr, 16);
            put(code, true);
        } else if (e == u'u' || e == u'U') {
            const int digits = e == u'u' ? 4 : 8;
            put(body.mid(i, digits).toString().toUInt(nullptr, 16), false);
            i += digits;
        } else {
            static const QHash<QChar, char> simple{{u'n', '\n'}, {u't', '\t'}, {u'r', '\r'}, {u'a', '\a'},
                                                   {u'b', '\b'}, {u'f', '\f'}, {u'v', '\v'}};
            out.append(simple.value(e, char(e.toLatin1())));
        }
    }
    return QString::fromUtf8(out);
}

// Every string literal of a C++ source, with adjacent literals also joined
// ("a" "b" gives "a", "b" and "ab"). Comments and character literals are skipped.
void collectLiterals(const QString& src, QSet<QString>& into)
{
    QString joined;
    bool joining = false;
    auto flush = [&] {
        if (joining)
            into.insert(joined);
        joined.clear();
        joining = false;
    };
    for (qsizetype i = 0; i < src.size();) {
        const QChar c = src[i];
        if (c.isSpace()) {
            ++i;
        } else if (src.mid(i, 2) == u"//") {
            i = src.indexOf(u'\n', i);
            if (i < 0)
                break;
        } else if (src.mid(i, 2) == u"/*") {
            const qsizetype end = src.indexOf(u"*/", i + 2);
            i = end < 0 ? src.size() : end + 2;
        } else if (c == u'\'') {
            // A digit separator (1'000) or a character literal.
            if (i > 0 && isIdentChar(src[i - 1])) {
                ++i;
                continue;
            }
            flush();
            for (++i; i < src.size() && src[i] != u'\'' && src[i] != u'\n'; ++i) {
                if (src[i] == u'\\')
                    ++i;
            }
            ++i;
        } else if (c == u'"') {
            // The prefix letters just before the quote: R, u8, u, U, L and their mixes.
            qsizetype p = i;
            while (p > 0 && isIdentChar(src[p - 1]))
                --p;
            const QString prefix = src.mid(p, i - p);
            static const QStringList prefixes{"", "R", "u8", "u", "U", "L", "u8R", "uR", "UR", "LR"};
            const bool known = prefixes.contains(prefix);
            const bool raw = known && prefix.endsWith(u'R');
            const bool narrow = !known || prefix.isEmpty() || prefix.startsWith(u"u8") || prefix == u"R";
            QString text;
            if (raw) {
                const qsizetype open = src.indexOf(u'(', i + 1);
                const QString delim = src.mid(i + 1, open - i - 1);
                const QString close = u')' + delim + u'"';
                const qsizetype end = src.indexOf(close, open + 1);
                text = src.mid(open + 1, end - open - 1);
                i = end + close.size();
            } else {
                qsizetype j = i + 1;
                while (j < src.size() && src[j] != u'"' && src[j] != u'\n')
                    j += src[j] == u'\\' ? 2 : 1;
                text = unescape(QStringView(src).mid(i + 1, j - i - 1), narrow);
                i = j + 1;
            }
            into.insert(text);
            joined += text;
            joining = true;
            // A user-defined suffix (_s, _L1) belongs to the literal.
            while (i < src.size() && isIdentChar(src[i]))
                ++i;
        } else {
            flush();
            ++i;
        }
    }
    flush();
}

QSet<QString> programLiterals()
{
    QSet<QString> literals;
    QDirIterator it(QStringLiteral(CORVESSA_SOURCE_DIR "/Recorder"), {"*.h", "*.cpp"}, QDir::Files,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        QFile f(it.next());
        if (f.open(QIODevice::ReadOnly))
            collectLiterals(QString::fromUtf8(f.readAll()), literals);
    }
    return literals;
}

QStringList shippedCodes()
{
    QStringList codes;
    for (const Loc::Lang& lang : Loc::available()) {
        if (lang.code != u"en")
            codes << lang.code;
    }
    return codes;
}

QJsonObject readShipped(const QString& code)
{
    QFile f(":/lang/" + code + ".json");
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return QJsonDocument::fromJson(f.readAll()).object();
}

} // namespace

TEST(LiteralScanner, ReadsLiteralsAsTheCompilerDoes)
{
    QSet<QString> found;
    collectLiterals(uR"src(
        // "commented out"
        /* "also
           commented" */
        auto a = Loc::text("Quit Corvessa");
        auto b = QStringLiteral("Line\n\"two\"\t\\ %@");
        auto c = Loc::text("Saved to "
                           "%@");
        auto d = u"Caf\u00e9"_s + "\xc3\xa9" + R"x(raw "(text)")x";
        char e = '"'; int f = 1'000; auto g = "after";
    )src"_s, found);

    for (const QString& want : {u"Quit Corvessa"_s, u"Line\n\"two\"\t\\ %@"_s, u"Saved to "_s, u"%@"_s,
                                u"Saved to %@"_s, u"Café"_s, u"é"_s, u"raw \"(text)\""_s, u"after"_s})
        EXPECT_TRUE(found.contains(want)) << want.toStdString();
    for (const QString& unwanted : {u"commented out"_s, u"also\n           commented"_s, u"\""_s})
        EXPECT_FALSE(found.contains(unwanted)) << unwanted.toStdString();
}

TEST(TranslationTables, EachLanguageShipsAFlatTableOfTexts)
{
    QStringList shipped = QDir(":/lang").entryList({"*.json"}, QDir::Files);
    shipped.sort();
    QStringList expected;
    // English ships a table too: only its texts in this platform's words.
    const QStringList codes = shippedCodes() + QStringList{u"en"_s};
    for (const QString& code : codes)
        expected << code + ".json";
    expected.sort();
    EXPECT_EQ(shipped, expected);

    for (const QString& code : codes) {
        QFile f(":/lang/" + code + ".json");
        ASSERT_TRUE(f.open(QIODevice::ReadOnly)) << code.toStdString();
        QJsonParseError error{};
        const QJsonDocument doc = QJsonDocument::fromJson(f.readAll(), &error);
        ASSERT_EQ(error.error, QJsonParseError::NoError) << code.toStdString() << ": " << error.errorString().toStdString();
        ASSERT_TRUE(doc.isObject()) << code.toStdString();
        const QJsonObject table = doc.object();
        ASSERT_FALSE(table.isEmpty()) << code.toStdString();
        for (auto it = table.begin(); it != table.end(); ++it) {
            EXPECT_TRUE(it.value().isString()) << code.toStdString() << ": " << it.key().toStdString();
            EXPECT_FALSE(it.value().toString().trimmed().isEmpty()) << code.toStdString() << ": " << it.key().toStdString();
        }
    }
}

TEST(TranslationTables, EveryKeyIsATextOfTheProgram)
{
    const QSet<QString> literals = programLiterals();
    ASSERT_FALSE(literals.isEmpty());
    for (const QString& code : shippedCodes() + QStringList{u"en"_s}) {
        const QJsonObject table = readShipped(code);
        for (const QString& key : table.keys())
            EXPECT_TRUE(literals.contains(key)) << code.toStdString() << ": \"" << key.toStdString()
                                                << "\" is not written anywhere in the program";
    }
}

TEST(TranslationTables, TranslationsKeepThePlaceholders)
{
    for (const QString& code : shippedCodes()) {
        const QJsonObject table = readShipped(code);
        for (auto it = table.begin(); it != table.end(); ++it) {
            const QString value = it.value().toString();
            EXPECT_EQ(value.count(u"%@"), it.key().count(u"%@")) << code.toStdString() << ": " << it.key().toStdString();
            EXPECT_EQ(value.count(u"%%"), it.key().count(u"%%")) << code.toStdString() << ": " << it.key().toStdString();
        }
    }
}

TEST(TranslationTables, EveryTableHasTheSameKeys)
{
    const QStringList codes = shippedCodes();
    const QStringList reference = readShipped(codes.first()).keys();
    for (const QString& code : codes) {
        const QStringList keys = readShipped(code).keys();
        const QSet<QString> have(keys.begin(), keys.end());
        const QSet<QString> want(reference.begin(), reference.end());
        for (const QString& key : want - have)
            ADD_FAILURE() << code.toStdString() << " lacks \"" << key.toStdString() << "\"";
        for (const QString& key : have - want)
            ADD_FAILURE() << code.toStdString() << " has \"" << key.toStdString() << "\" that "
                          << codes.first().toStdString() << " lacks";
    }
}

TEST(TranslationTables, TheProductNameStaysUntranslated)
{
    for (const QString& code : shippedCodes()) {
        const QJsonObject table = readShipped(code);
        EXPECT_EQ(table.value("Corvessa").toString(), "Corvessa") << code.toStdString();
        EXPECT_TRUE(table.value("Corvessa didn't close normally last time, and the recording was too short to recover.")
                        .toString()
                        .contains("Corvessa"))
            << code.toStdString();
    }
}
