#include "platform/core/UserDefaults.h"
#include "prefs/Loc.h"
#include "prefs/LocNotifier.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <map>
#include <optional>
#include <thread>
#include <vector>

using namespace corvessa;

namespace {

const char* const kIsolatedVariables[] = {
    "HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_STATE_HOME",
    "LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG",
};

// Each test gets its own home (so its own defaults file), no locale variables,
// and a table directory of its own.
class LocTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_home.isValid());
        for (const char* name : kIsolatedVariables) {
            m_saved.emplace_back(name, qEnvironmentVariableIsSet(name) ? std::optional(qgetenv(name)) : std::nullopt);
            qunsetenv(name);
        }
        qputenv("HOME", m_home.path().toUtf8());
        qputenv("XDG_CONFIG_HOME", (m_home.path() + "/config").toUtf8());
        UserDefaults::reopenStandard();
        ASSERT_TRUE(QDir().mkpath(tables()));
        Loc::setTableDirectory(tables());
        Loc::load();
    }

    void TearDown() override
    {
        for (const auto& [name, value] : m_saved) {
            if (value)
                qputenv(name, *value);
            else
                qunsetenv(name);
        }
        UserDefaults::reopenStandard();
        Loc::setTableDirectory(QStringLiteral(":/lang"));
        Loc::load();
    }

    QString tables() const { return m_home.path() + "/lang"; }

    void writeTable(const QString& code, const QJsonObject& table)
    {
        writeRaw(code, QJsonDocument(table).toJson());
    }

    void writeRaw(const QString& code, const QByteArray& bytes)
    {
        QFile f(tables() + "/" + code + ".json");
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }

    static void setLanguage(const QString& value)
    {
        UserDefaults::standard().setString("language", value);
    }

    QTemporaryDir m_home;
    std::vector<std::pair<const char*, std::optional<QByteArray>>> m_saved;
};

const QJsonObject kGerman{
    {"Quit Corvessa", "Corvessa beenden"},
    {"Saved to %@", "Gespeichert unter %@"},
    {"Error: %@", "Fehler: %@"},
    {"Camera %@ stopped (%@).", "Kamera %@ angehalten (%@)."},
    {"Stopped: %@", "Angehalten: %@"},
    {"Stopped: %@ (disk full)", "Angehalten: %@ (Festplatte voll)"},
    {"Area width is about %@%% of the screen.", "Die Breite beträgt etwa %@%% des Bildschirms."},
};

} // namespace

// --- choosing a language ---------------------------------------------------

TEST_F(LocTest, LanguagesAreTheTwelveInOrder)
{
    QStringList codes;
    for (const Loc::Lang& lang : Loc::available())
        codes << lang.code;
    EXPECT_EQ(codes, QStringList({"en", "zh-Hans", "zh-Hant", "ja", "ko", "es", "fr", "de", "pt-BR", "ru", "it", "ar"}));
    EXPECT_EQ(Loc::available().at(2).name, QStringLiteral("繁體中文"));
    EXPECT_EQ(Loc::available().at(8).name, QStringLiteral("Português (Brasil)"));
}

TEST_F(LocTest, ResolveTakesAnExactCodeOverTheSystem)
{
    for (const Loc::Lang& lang : Loc::available())
        EXPECT_EQ(Loc::resolve(lang.code, {"fr-FR"}), lang.code);
    // Near misses are not codes: they go to the system languages.
    EXPECT_EQ(Loc::resolve("DE", {"it-IT"}), "it");
    EXPECT_EQ(Loc::resolve("zh", {"ja-JP"}), "ja");
    EXPECT_EQ(Loc::resolve("", {"ko-KR"}), "ko");
}

TEST_F(LocTest, ResolveFollowsTheSystemForAuto)
{
    const std::vector<std::pair<QStringList, QString>> cases = {
        {{"nl-NL", "fr-CA"}, "fr"},
        {{"en-GB"}, "en"},
        {{"es-419"}, "es"},
        {{"zh-Hant-HK"}, "zh-Hant"},
        {{"zh-HK"}, "zh-Hant"},
        {{"zh-TW"}, "zh-Hant"},
        {{"zh-MO"}, "zh-Hant"},
        {{"zh-SG"}, "zh-Hans"},
        {{"zh-Hans-CN"}, "zh-Hans"},
        {{"zh"}, "zh-Hans"},
        {{"pt-PT"}, "pt-BR"},
        {{"pt"}, "pt-BR"},
        {{"nl-NL"}, "en"},
        {{"nl-NL", "sv"}, "en"},
        {{}, "en"},
        {{"ar-EG", "de"}, "ar"},
    };
    for (const auto& [system, expected] : cases)
        EXPECT_EQ(Loc::resolve("auto", system), expected) << system.join(',').toStdString();
}

TEST_F(LocTest, PreferredLanguagesComeFromTheEnvironment)
{
    EXPECT_EQ(Loc::preferredLanguages(), QStringList{"en"});

    qputenv("LANG", "fr_CA.UTF-8@euro");
    EXPECT_EQ(Loc::preferredLanguages(), QStringList{"fr-CA"});

    // LC_ALL outranks LC_MESSAGES and LANG; LANGUAGE comes before all of them.
    qputenv("LC_MESSAGES", "de_DE.UTF-8");
    qputenv("LC_ALL", "zh_TW");
    EXPECT_EQ(Loc::preferredLanguages(), QStringList{"zh-TW"});
    qputenv("LANGUAGE", "nl_NL:fr_CA::sr@latin");
    EXPECT_EQ(Loc::preferredLanguages(), QStringList({"nl-NL", "fr-CA", "sr", "zh-TW"}));
    EXPECT_EQ(Loc::resolve("auto"), "fr");

    // The C locale says nothing about a language.
    qunsetenv("LANGUAGE");
    qputenv("LC_ALL", "C.UTF-8");
    EXPECT_EQ(Loc::preferredLanguages(), QStringList{"en"});
    qputenv("LC_ALL", "");
    EXPECT_EQ(Loc::preferredLanguages(), QStringList{"de-DE"});
    qputenv("LANGUAGE", "POSIX");
    qputenv("LC_MESSAGES", "POSIX");
    EXPECT_EQ(Loc::preferredLanguages(), QStringList{"en"});
}

TEST_F(LocTest, StoredAppleLanguagesOutrankTheEnvironment)
{
    qputenv("LANG", "ja_JP.UTF-8");
    UserDefaults::standard().setStringArray("AppleLanguages", {"ko"});
    EXPECT_EQ(Loc::preferredLanguages(), QStringList{"ko"});
    EXPECT_EQ(Loc::resolve("auto"), "ko");
    UserDefaults::standard().remove("AppleLanguages");
    EXPECT_EQ(Loc::resolve("auto"), "ja");
}

// --- loading tables --------------------------------------------------------

TEST_F(LocTest, LoadUsesTheChosenTable)
{
    writeTable("de", kGerman);
    setLanguage("de");
    Loc::load();
    EXPECT_EQ(Loc::code(), "de");
    EXPECT_EQ(Loc::text("Quit Corvessa"), "Corvessa beenden");
    EXPECT_EQ(Loc::text("Not in the table"), "Not in the table");
    EXPECT_EQ(Loc::table().size(), kGerman.size());
}

TEST_F(LocTest, LoadWithoutATableShowsEnglish)
{
    setLanguage("de");
    Loc::load();
    EXPECT_EQ(Loc::code(), "de");
    EXPECT_EQ(Loc::text("Quit Corvessa"), "Quit Corvessa");
    EXPECT_TRUE(Loc::table().isEmpty());
    EXPECT_EQ(Loc::reverse("Saved to /tmp/a.mov"), "Saved to /tmp/a.mov");
}

TEST_F(LocTest, MalformedTablesAreIgnoredWhole)
{
    setLanguage("de");
    for (const QByteArray& bad : {QByteArray("{\"Quit Corvessa\": \"Corvessa beenden\""),
                                  QByteArray("[\"Quit Corvessa\"]"),
                                  QByteArray("{\"Quit Corvessa\": \"Corvessa beenden\", \"Count\": 3}"),
                                  QByteArray("{\"Quit Corvessa\": {\"de\": \"Corvessa beenden\"}}"),
                                  QByteArray("")}) {
        writeRaw("de", bad);
        Loc::load();
        EXPECT_EQ(Loc::code(), "de");
        EXPECT_TRUE(Loc::table().isEmpty()) << bad.toStdString();
        EXPECT_EQ(Loc::text("Quit Corvessa"), "Quit Corvessa");
    }
}

TEST_F(LocTest, LoadReplacesThePreviousLanguage)
{
    writeTable("de", kGerman);
    writeTable("fr", QJsonObject{{"Saved to %@", "Enregistré dans %@"}});
    setLanguage("de");
    Loc::load();
    ASSERT_EQ(Loc::text("Quit Corvessa"), "Corvessa beenden");

    setLanguage("fr");
    Loc::load();
    EXPECT_EQ(Loc::code(), "fr");
    EXPECT_EQ(Loc::text("Quit Corvessa"), "Quit Corvessa");
    EXPECT_EQ(Loc::reverse("Saved to /x"), "Enregistré dans /x");

    // English reads its own table too: the texts it words for this platform.
    writeTable("en", QJsonObject{{"Show in Finder", "Show in Folder"}});
    setLanguage("en");
    Loc::load();
    EXPECT_EQ(Loc::text("Show in Finder"), "Show in Folder");
    EXPECT_EQ(Loc::text("Quit Corvessa"), "Quit Corvessa");
    EXPECT_EQ(Loc::reverse("Saved to /x"), "Saved to /x");
}

TEST_F(LocTest, MissingPreferenceMeansAuto)
{
    writeTable("es", QJsonObject{{"Quit Corvessa", "Salir de Corvessa"}});
    qputenv("LANG", "es_MX.UTF-8");
    Loc::load();
    EXPECT_EQ(Loc::code(), "es");
    EXPECT_EQ(Loc::text("Quit Corvessa"), "Salir de Corvessa");
}

TEST_F(LocTest, ShippedTablesAreCompiledIn)
{
    Loc::setTableDirectory(QStringLiteral(":/lang"));
    setLanguage("de");
    Loc::load();
    EXPECT_EQ(Loc::text("Record"), "Aufnehmen");
    setLanguage("ja");
    Loc::load();
    EXPECT_EQ(Loc::text("Record"), "録画");
}

// Texts written with the other platform's modifier symbols are rewritten as
// they load, word by word: "⌘ or ⌃" came out "Super or Ctrl", and a Korean
// particle after it no longer fitted. What a table says is what the user reads.
TEST_F(LocTest, ShippedTablesNameKeysAsOnLinux)
{
    const QString symbols = QStringLiteral("\u2318\u2303\u2325\u21E7");
    QStringList keys;
    for (const Loc::Lang& lang : Loc::available()) {
        QFile file(QStringLiteral(":/lang/") + lang.code + QStringLiteral(".json"));
        ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << lang.code.toStdString();
        const QJsonObject table = QJsonDocument::fromJson(file.readAll()).object();
        ASSERT_FALSE(table.isEmpty()) << lang.code.toStdString();
        keys += table.keys();
        for (auto it = table.begin(); it != table.end(); ++it) {
            const QString text = it.value().toString();
            EXPECT_FALSE(std::any_of(text.begin(), text.end(), [&](QChar c) { return symbols.contains(c); }))
                << lang.code.toStdString() << ": " << text.toStdString();
        }
    }

    // The capture takes a key with Ctrl or Super; the texts that say so name
    // both as the key texts do, and the permissions note names no button.
    Loc::setTableDirectory(QStringLiteral(":/lang"));
    for (const Loc::Lang& lang : Loc::available()) {
        setLanguage(lang.code);
        Loc::load();
        for (const char* english : {"Include ⌘ or ⌃, or the shortcut won't work.",
                                    "Click the button, then press your new shortcut. It must include ⌘ or ⌃."}) {
            const QString text = Loc::text(QString::fromUtf8(english));
            EXPECT_TRUE(text.contains(QLatin1String("Ctrl")) && text.contains(QLatin1String("Super")) && !text.contains(QLatin1String("Alt")))
                << lang.code.toStdString() << ": " << text.toStdString();
        }
        const QString note = Loc::text(QStringLiteral("Permissions are requested only when you click “Grant Access”."));
        EXPECT_FALSE(note.contains(Loc::text(QStringLiteral("Grant Access")))) << lang.code.toStdString();
        EXPECT_FALSE(note.contains(Loc::text(QStringLiteral("Open System Settings")))) << lang.code.toStdString();
    }

    // Nothing here asks for permission, and no system dialog has an "Allow"
    // button to click. These are the words each language used for them; no
    // text reads them, nor names the other platform's places. English reads
    // the key wherever its table has none, so every key is read.
    const std::map<QString, QStringList> promptWords = {
        {"en", {"“Allow”", "Don't Allow", "permission prompt", "system prompt"}},
        {"ar", {"”السماح“", "”عدم السماح“", "مطالبات أذونات النظام", "نافذة النظام"}},
        {"de", {"„Erlauben“", "„Nicht erlauben“", "Berechtigungsabfrage", "Systemabfrage"}},
        {"es", {"«Permitir»", "«No permitir»", "avisos de permisos", "aviso del sistema"}},
        {"fr", {"« Autoriser »", "« Ne pas autoriser »", "demandes d'autorisation du système", "demande du système"}},
        {"it", {"“Consenti”", "“Non consentire”", "richieste di autorizzazione", "richiesta del sistema"}},
        {"ja", {"「許可」", "「許可しない」", "システムの許可の確認", "システムの確認"}},
        {"ko", {"‘허용’", "‘허용 안 함’", "시스템 권한 요청", "시스템 알림"}},
        {"pt-BR", {"“Permitir”", "“Não permitir”", "pedidos de permissão", "aviso do sistema"}},
        {"ru", {"«Разрешить»", "«Не разрешать»", "запросы разрешений", "запросе системы"}},
        {"zh-Hans", {"“允许”", "“不允许”", "系统权限提示", "系统提示"}},
        {"zh-Hant", {"「允許」", "「不允許」", "系統權限提示", "系統提示"}},
    };
    const QRegularExpression otherPlatform(QStringLiteral("\\b(Finder|Dock|macOS|Mac)\\b|废纸篓"));
    keys.removeDuplicates();
    for (const Loc::Lang& lang : Loc::available()) {
        const auto words = promptWords.find(lang.code);
        ASSERT_NE(words, promptWords.end()) << lang.code.toStdString();
        setLanguage(lang.code);
        Loc::load();
        for (const QString& key : keys) {
            const QString text = Loc::text(key);
            for (const QString& word : words->second)
                EXPECT_FALSE(text.contains(word, Qt::CaseInsensitive))
                    << lang.code.toStdString() << ": " << text.toStdString();
            EXPECT_FALSE(otherPlatform.match(text).hasMatch()) << lang.code.toStdString() << ": " << text.toStdString();
        }
    }
}

// --- fill ------------------------------------------------------------------

TEST(LocFill, PlaceholdersTakeArgumentsInOrder)
{
    EXPECT_EQ(Loc::fill("%@ and %@", "a", "b"), "a and b");
    EXPECT_EQ(Loc::fill("%@%@", "a", "b"), "ab");
    EXPECT_EQ(Loc::fill("no placeholder"), "no placeholder");
    EXPECT_EQ(Loc::fill("no placeholder", "x"), "no placeholder");
    EXPECT_EQ(Loc::fill("", "x"), "");
    EXPECT_EQ(Loc::fill("%@", QString()), "");
}

TEST(LocFill, MissingArgumentsAreDroppedAndSurplusIgnored)
{
    EXPECT_EQ(Loc::fill("%@ and %@", "a"), "a and ");
    EXPECT_EQ(Loc::fill("%@ and %@"), " and ");
    EXPECT_EQ(Loc::fill("[%@]", "a", "b"), "[a]");
    EXPECT_EQ(Loc::fill("[%@]", QVariantList{"a", "b"}), "[a]");
}

TEST(LocFill, DoubledPercentBecomesSingleEverywhere)
{
    EXPECT_EQ(Loc::fill("Area width is about %@%% of the screen.", 40), "Area width is about 40% of the screen.");
    EXPECT_EQ(Loc::fill("100%%"), "100%");
    EXPECT_EQ(Loc::fill("%@", "50%%"), "50%");
    EXPECT_EQ(Loc::fill("%@", "50%"), "50%");
    // A placeholder inside an argument is text, not a placeholder.
    EXPECT_EQ(Loc::fill("%@ / %@", "%@", "b"), "%@ / b");
    // Other printf directives are left alone.
    EXPECT_EQ(Loc::fill("%d %s %@", "x"), "%d %s x");
}

TEST(LocFill, ArgumentsOfOtherTypesUseTheirText)
{
    EXPECT_EQ(Loc::fill("%@ fps", 30), "30 fps");
    EXPECT_EQ(Loc::fill("%@|%@|%@", qint64(-7), 2.5, 1234567.0), "-7|2.5|1234567");
    EXPECT_EQ(Loc::fill("%@ %@", true, QChar(u'é')), "true é");
    EXPECT_EQ(Loc::fill("%@ %@", QStringLiteral("Qt"), QVariant(3)), "Qt 3");
    EXPECT_EQ(Loc::fill("%@ and %@", QVariantList{1, "two"}), "1 and two");
    EXPECT_EQ(Loc::fill("%@", QStringLiteral("Größe · 大小")), "Größe · 大小");
}

// --- reverse ---------------------------------------------------------------

class LocReverseTest : public LocTest {
protected:
    void SetUp() override
    {
        LocTest::SetUp();
        writeTable("de", kGerman);
        setLanguage("de");
        Loc::load();
        ASSERT_EQ(Loc::code(), "de");
    }
};

TEST_F(LocReverseTest, EnglishIsReturnedUnchanged)
{
    setLanguage("en");
    Loc::load();
    EXPECT_EQ(Loc::reverse("Saved to /tmp/x.mov"), "Saved to /tmp/x.mov");
    EXPECT_EQ(Loc::reverse("Quit Corvessa"), "Quit Corvessa");
}

TEST_F(LocReverseTest, WholeLinesAndPatterns)
{
    EXPECT_EQ(Loc::reverse("Quit Corvessa"), "Corvessa beenden");
    EXPECT_EQ(Loc::reverse("Saved to /home/me/Videos/Corvessa 2024-01-02 10.11.12.mov"),
              "Gespeichert unter /home/me/Videos/Corvessa 2024-01-02 10.11.12.mov");
    EXPECT_EQ(Loc::reverse("Camera Studio (USB) stopped (gone)."), "Kamera Studio (USB) angehalten (gone).");
    EXPECT_EQ(Loc::reverse("Something else entirely"), "Something else entirely");
    // The key's own template is not a line that was filled.
    EXPECT_EQ(Loc::reverse("Saved to "), "Saved to ");
}

TEST_F(LocReverseTest, PunctuationMatchesOnlyItself)
{
    EXPECT_EQ(Loc::reverse("Camera A stopped (b)X"), "Camera A stopped (b)X");
    EXPECT_EQ(Loc::reverse("Camera A stopped [b]."), "Camera A stopped [b].");
    EXPECT_EQ(Loc::reverse("Camera A stopped (b)."), "Kamera A angehalten (b).");
}

TEST_F(LocReverseTest, PatternsAreAnchoredAtBothEnds)
{
    EXPECT_EQ(Loc::reverse("Note: Saved to /x"), "Note: Saved to /x");
    EXPECT_EQ(Loc::reverse("Error: x\n"), "Fehler: x\n"); // the final line break stays in the argument
    EXPECT_EQ(Loc::reverse("Quit Corvessa!"), "Quit Corvessa!");
}

TEST_F(LocReverseTest, ArgumentsMaySpanLineBreaks)
{
    EXPECT_EQ(Loc::reverse("Error: first line\nsecond line\r\nthird"), "Fehler: first line\nsecond line\r\nthird");
}

TEST_F(LocReverseTest, TheMoreSpecificKeyWins)
{
    EXPECT_EQ(Loc::reverse("Stopped: movie (disk full)"), "Angehalten: movie (Festplatte voll)");
    EXPECT_EQ(Loc::reverse("Stopped: movie (other)"), "Angehalten: movie (other)");
}

TEST_F(LocReverseTest, KeysWithPercentMatchTheFilledLine)
{
    const QString english = Loc::fill("Area width is about %@%% of the screen.", 40);
    EXPECT_EQ(Loc::reverse(english), "Die Breite beträgt etwa 40% des Bildschirms.");
}

// --- choose ----------------------------------------------------------------

TEST_F(LocTest, ChooseStoresAppliesAndAnnounces)
{
    writeTable("de", kGerman);
    int changes = 0;
    QString codeSeen;
    const auto connection = QObject::connect(&LocNotifier::instance(), &LocNotifier::languageChanged, [&] {
        ++changes;
        codeSeen = Loc::code();
    });

    ASSERT_TRUE(Loc::choose("de"));
    UserDefaults& defaults = UserDefaults::standard();
    EXPECT_EQ(defaults.string("language"), QString("de"));
    EXPECT_EQ(defaults.stringArray("AppleLanguages"), QStringList{"de"});
    EXPECT_EQ(Loc::code(), "de");
    EXPECT_EQ(Loc::text("Quit Corvessa"), "Corvessa beenden");
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(codeSeen, "de"); // listeners already see the new language

    qputenv("LANG", "it_IT.UTF-8");
    ASSERT_TRUE(Loc::choose("auto"));
    EXPECT_EQ(defaults.string("language"), QString("auto"));
    EXPECT_FALSE(defaults.contains("AppleLanguages"));
    EXPECT_EQ(Loc::code(), "it");
    EXPECT_EQ(Loc::text("Quit Corvessa"), "Quit Corvessa");
    EXPECT_EQ(changes, 2);

    QObject::disconnect(connection);
}

TEST_F(LocTest, ChoiceSurvivesARestart)
{
    writeTable("de", kGerman);
    ASSERT_TRUE(Loc::choose("de"));
    UserDefaults::reopenStandard();
    Loc::load();
    EXPECT_EQ(Loc::code(), "de");
    EXPECT_EQ(Loc::text("Quit Corvessa"), "Corvessa beenden");
}

TEST_F(LocTest, ChooseRejectsUnknownCodes)
{
    writeTable("de", kGerman);
    ASSERT_TRUE(Loc::choose("de"));
    int changes = 0;
    const auto connection = QObject::connect(&LocNotifier::instance(), &LocNotifier::languageChanged, [&] { ++changes; });

    for (const QString& bad : {QString("xx"), QString(""), QString("DE"), QString("zh")})
        EXPECT_FALSE(Loc::choose(bad)) << bad.toStdString();
    EXPECT_EQ(changes, 0);
    EXPECT_EQ(UserDefaults::standard().string("language"), QString("de"));
    EXPECT_EQ(UserDefaults::standard().stringArray("AppleLanguages"), QStringList{"de"});
    EXPECT_EQ(Loc::code(), "de");
    QObject::disconnect(connection);
}

// --- threads ---------------------------------------------------------------

// The engine and audio threads look texts up while the user switches languages;
// every answer must belong to one whole language.
TEST_F(LocTest, ReadersOnOtherThreadsSeeWholeLanguages)
{
    writeTable("de", kGerman);
    writeTable("fr", QJsonObject{{"Quit Corvessa", "Quitter Corvessa"}, {"Saved to %@", "Enregistré dans %@"}});
    qputenv("LANG", "en_US.UTF-8");

    std::atomic<bool> stop{false};
    std::atomic<int> bad{0};
    std::atomic<long> reads{0};
    std::vector<std::thread> readers;
    for (int i = 0; i < 4; ++i) {
        readers.emplace_back([&] {
            const QStringList quits{"Quit Corvessa", "Corvessa beenden", "Quitter Corvessa"};
            const QStringList saved{"Saved to /a", "Gespeichert unter /a", "Enregistré dans /a"};
            const QStringList codes{"en", "de", "fr"};
            while (!stop.load()) {
                if (!quits.contains(Loc::text("Quit Corvessa")) || !saved.contains(Loc::reverse("Saved to /a"))
                    || !codes.contains(Loc::code()) || Loc::fill("%@%%", 5) != "5%")
                    ++bad;
                (void)Loc::table().value("Error: %@");
                ++reads;
            }
        });
    }
    const QStringList cycle{"de", "fr", "auto"};
    for (int i = 0; i < 120; ++i)
        ASSERT_TRUE(Loc::choose(cycle.at(i % cycle.size())));
    stop = true;
    for (std::thread& t : readers)
        t.join();

    EXPECT_EQ(bad.load(), 0);
    EXPECT_GT(reads.load(), 0);
    EXPECT_EQ(Loc::code(), "en");
}
