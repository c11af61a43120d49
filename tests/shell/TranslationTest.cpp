#include "AppPaths.h"
#include "LangId.h"
#include "LanguageFixture.h"
#include "Translation.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace restovo;

namespace {

const QString English = QStringLiteral(
    "[Translation]\n"
    "LangCode=0409|0809\n"
    "DefaultFont=DejaVu Sans\n"
    "DefaultFontSize=10\n"
    "Error=Error\n"
    "[S]\n"
    "both=English both\n"
    "emptyInCurrent=English fills the gap\n"
    "englishOnly=English only\n"
    "emptyEverywhere=\n");

const QString German = QStringLiteral(
    "[Translation]\n"
    "LangCode=0407|0807\n"
    "Error=Fehler\n"
    "[s]\n"
    "BOTH=Deutsch beide\n"
    "emptyInCurrent=\n"
    "emptyEverywhere=\n"
    "germanOnly=Nur Deutsch\n");

}  // namespace

class TranslationTest : public QObject {
  Q_OBJECT

  std::unique_ptr<QTemporaryDir> Dir;

  QString LangDir() const { return Dir->filePath(QStringLiteral("Languages")); }

  void Write(const QString& name, const QString& text) {
    QVERIFY(test::WriteLanguageFile(LangDir(), name, text));
  }

  void Remove(const QString& name) {
    QVERIFY(QFile::remove(LangDir() + QLatin1Char('/') + name + QStringLiteral(".ini")));
  }

 private slots:
  void init() {
    ResetLanguageState();
    Dir = std::make_unique<QTemporaryDir>();
    QVERIFY(Dir->isValid());
    SetAppDir(Dir->path());
    QVERIFY(QDir().mkpath(LangDir()));
  }

  void cleanup() {
    ResetLanguageState();
    SetAppDir({});
  }

  void lookupFallsBackToEnglishThenDefault_data() {
    QTest::addColumn<QString>("section");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("expected");
    QTest::newRow("current file") << "S" << "both" << "Deutsch beide";
    QTest::newRow("names ignore case") << "s" << "Both" << "Deutsch beide";
    QTest::newRow("only in the current file") << "S" << "germanOnly" << "Nur Deutsch";
    QTest::newRow("empty value falls through") << "S" << "emptyInCurrent"
                                               << "English fills the gap";
    QTest::newRow("missing key falls through") << "S" << "englishOnly" << "English only";
    QTest::newRow("empty in both files") << "S" << "emptyEverywhere" << "built-in";
    QTest::newRow("in no file") << "S" << "nowhere" << "built-in";
    QTest::newRow("unknown section") << "Nowhere" << "both" << "built-in";
  }

  void lookupFallsBackToEnglishThenDefault() {
    QFETCH(QString, section);
    QFETCH(QString, key);
    QFETCH(QString, expected);
    Write(QStringLiteral("English"), English);
    Write(QStringLiteral("Deutsch"), German);
    QCOMPARE(SetLanguage(QStringLiteral("Deutsch")), TLanguageSwitch::Chosen);
    QCOMPARE(TranslateText(section, key, QStringLiteral("built-in")), expected);
  }

  void messageCaptionsAreTranslatedKindNames() {
    Write(QStringLiteral("English"), English);
    Write(QStringLiteral("Deutsch"), German);
    SetLanguage(QStringLiteral("Deutsch"));
    QCOMPARE(MsgKindCaption(mkError), QStringLiteral("Fehler"));
    QCOMPARE(MsgKindCaption(mkConfirm), QStringLiteral("Confirm"));
  }

  void missingCurrentFileIsRetriedOnEveryLookup() {
    Write(QStringLiteral("English"), English);
    Write(QStringLiteral("Deutsch"), German);
    SetLanguage(QStringLiteral("Deutsch"));
    Remove(QStringLiteral("Deutsch"));
    LoadLanguageFile();
    QCOMPARE(TranslateText("S", "both", "built-in"), QStringLiteral("English both"));
    QCOMPARE(TranslateText("S", "germanOnly", "built-in"), QStringLiteral("built-in"));

    Write(QStringLiteral("Deutsch"), German);
    QCOMPARE(TranslateText("S", "both", "built-in"), QStringLiteral("Deutsch beide"));
  }

  void noLanguageFileAtAll() {
    int changes = 0;
    SetOnLanguageChanged([&changes] { ++changes; });
    SetLang(QStringLiteral("Deutsch"));
    QCOMPARE(SetLanguage(Lang()), TLanguageSwitch::NoLanguageFile);
    QCOMPARE(changes, 0);
    QCOMPARE(NoLanguageFileExitCode, 0);
    QCOMPARE(NoLanguageFileText(),
             QStringLiteral("Can not load language file, please re-install the program to fix "
                            "the issue."));
    QCOMPARE(TranslateText("S", "both", "built-in"), QStringLiteral("built-in"));
    QCOMPARE(GetLangCharset(), QFontDatabase::Any);

    // English is looked for again at the next miss, once it exists.
    Write(QStringLiteral("English"), English);
    QCOMPARE(TranslateText("S", "both", "built-in"), QStringLiteral("English both"));
  }

  void switchToMissingLanguageUsesEnglish_data() {
    QTest::addColumn<QString>("before");
    QTest::addColumn<QString>("requested");
    QTest::addColumn<QString>("expectedLang");
    // At start the setting names the language before the switch.
    QTest::newRow("start with a missing language") << "Klingon" << "Klingon" << "Klingon";
    QTest::newRow("switch away from German") << "Deutsch" << "Klingon" << "Deutsch";
    QTest::newRow("a path is no language name") << "Deutsch" << "../Languages/Deutsch"
                                                << "Deutsch";
    QTest::newRow("empty name") << "" << "" << "";
  }

  void switchToMissingLanguageUsesEnglish() {
    QFETCH(QString, before);
    QFETCH(QString, requested);
    QFETCH(QString, expectedLang);
    Write(QStringLiteral("English"), English);
    Write(QStringLiteral("Deutsch"), German);
    SetLang(before);
    if (before == QStringLiteral("Deutsch")) SetLanguage(before);

    QString seenByHandler;
    SetOnLanguageChanged([&seenByHandler] { seenByHandler = TranslateText("S", "both", {}); });
    QCOMPARE(SetLanguage(requested), TLanguageSwitch::English);
    QCOMPARE(Lang(), expectedLang);
    QCOMPARE(LangFileName(), LangDir() + QStringLiteral("/English.ini"));
    QCOMPARE(seenByHandler, QStringLiteral("English both"));
  }

  void switchReloadsBeforeTellingTheWindow() {
    Write(QStringLiteral("English"), English);
    Write(QStringLiteral("Deutsch"), German);
    SetLanguage(QStringLiteral("English"));
    QStringList seen;
    SetOnLanguageChanged([&seen] { seen << TranslateText("S", "both", {}); });

    QCOMPARE(SetLanguage(QStringLiteral("Deutsch")), TLanguageSwitch::Chosen);
    QCOMPARE(Lang(), QStringLiteral("Deutsch"));
    QCOMPARE(SetLanguage(QStringLiteral("English")), TLanguageSwitch::Chosen);
    QCOMPARE(seen, QStringList({"Deutsch beide", "English both"}));
  }

  // Installed into a prefix: <prefix>/bin/restovo reads <prefix>/share/restovo/Languages/,
  // unless a Languages folder lies beside it.
  void installedLanguagesUnderTheSharedFolder() {
    const QString bin = Dir->filePath(QStringLiteral("usr/bin"));
    const QString shared = Dir->filePath(QStringLiteral("usr/share/restovo/Languages"));
    QVERIFY(QDir().mkpath(bin));
    SetAppDir(bin);
    QCOMPARE(LanguageDir(), bin + QStringLiteral("/Languages/"));
    QVERIFY(test::WriteLanguageFile(shared, QStringLiteral("English"), QStringLiteral("[S]\nk=shared\n")));
    QCOMPARE(LanguageDir(), shared + u'/');
    QCOMPARE(SetLanguage(QStringLiteral("English")), TLanguageSwitch::Chosen);
    QCOMPARE(TranslateText(QStringLiteral("S"), QStringLiteral("k"), QStringLiteral("default")),
             QStringLiteral("shared"));
    QVERIFY(QDir().mkpath(bin + QStringLiteral("/Languages")));
    QCOMPARE(LanguageDir(), bin + QStringLiteral("/Languages/"));
  }

  void listsLanguageFilesByName() {
    Write(QStringLiteral("English"), English);
    Write(QStringLiteral("zeta"), German);
    Write(QStringLiteral("Alpha"), German);
    Write(QStringLiteral("pt.BR"), German);
    QVERIFY(test::WriteFile(LangDir() + QStringLiteral("/beta.INI"), test::Utf16LeWithBom(German)));
    QVERIFY(test::WriteFile(LangDir() + QStringLiteral("/readme.txt"), "not a language"));
    QVERIFY(QDir().mkpath(LangDir() + QStringLiteral("/folder.ini")));

    ListLanguages();
    QCOMPARE(Languages(), QStringList({"Alpha", "beta", "English", "pt.BR", "zeta"}));

    // Each listed name can be chosen, whatever the case of its extension.
    QCOMPARE(SetLanguage(QStringLiteral("beta")), TLanguageSwitch::Chosen);
    QCOMPARE(TranslateText("S", "both", {}), QStringLiteral("Deutsch beide"));
  }

  void langCodePieces_data() {
    QTest::addColumn<QString>("langCode");
    QTest::addColumn<QStringList>("pieces");
    QTest::newRow("two codes") << "0804|1004" << QStringList{"0804", "1004"};
    QTest::newRow("trailing bar") << "0804|1004|" << QStringList{"0804", "1004"};
    QTest::newRow("upper-cased") << "0c04|100c" << QStringList{"0C04", "100C"};
    QTest::newRow("empty") << "" << QStringList{};
    QTest::newRow("bar only") << "|" << QStringList{};
  }

  void langCodePieces() {
    QFETCH(QString, langCode);
    QFETCH(QStringList, pieces);
    QCOMPARE(LangCodePieces(langCode), pieces);
  }

  void langCodeMatches_data() {
    QTest::addColumn<QString>("code");
    QTest::addColumn<bool>("matches");
    QTest::newRow("first") << "0804" << true;
    QTest::newRow("second") << "1004" << true;
    QTest::newRow("lower case") << "0c04" << true;
    QTest::newRow("other") << "0409" << false;
    QTest::newRow("blanks") << "    " << false;
    QTest::newRow("empty") << "" << false;
    QTest::newRow("part of a code") << "080" << false;
  }

  void langCodeMatches() {
    QFETCH(QString, code);
    QFETCH(bool, matches);
    Write(QStringLiteral("English"), English);
    Write(QStringLiteral("Zhongwen"), QStringLiteral("[Translation]\nLangCode=0804|1004|0C04|\n"));
    SetLanguage(QStringLiteral("Zhongwen"));
    QCOMPARE(LangCodeMatches(code), matches);
  }

  void fileWithoutLangCodeServesEnglishCodes() {
    Write(QStringLiteral("English"), English);
    Write(QStringLiteral("Plain"), QStringLiteral("[S]\nboth=plain\n"));
    SetLanguage(QStringLiteral("Plain"));
    QVERIFY(LangCodeMatches(QStringLiteral("0809")));
  }

  void detectLanguage_data() {
    QTest::addColumn<int>("langId");
    QTest::addColumn<QString>("expected");
    QTest::newRow("only one file") << 0x0407 << "Deutsch";
    QTest::newRow("two files: the later wins") << 0x0807 << "Deutsch";
    QTest::newRow("the earlier alone") << 0x1007 << "Alemannisch";
    QTest::newRow("trailing bar") << 0x1004 << "Zhongwen";
    QTest::newRow("no file") << 0x0411 << "English";
    QTest::newRow("English's own codes") << 0x0409 << "English";
  }

  void detectLanguage() {
    QFETCH(int, langId);
    QFETCH(QString, expected);
    Write(QStringLiteral("English"), English);
    Write(QStringLiteral("Alemannisch"), QStringLiteral("[Translation]\nLangCode=0807|1007\n"));
    Write(QStringLiteral("Deutsch"), German);
    Write(QStringLiteral("Zhongwen"), QStringLiteral("[translation]\nlangcode=0804|1004|\n"));
    ListLanguages();
    SetUserLangId(static_cast<std::uint16_t>(langId));
    QCOMPARE(DetectLanguage(), expected);
  }

  void detectLanguageWithoutFiles() {
    SetUserLangId(0x0407);
    ListLanguages();
    QCOMPARE(DetectLanguage(), QStringLiteral("English"));
  }

  void localeNamesToLangIds_data() {
    QTest::addColumn<QString>("locale");
    QTest::addColumn<QString>("langId");
    QTest::newRow("en_US") << "en_US" << "0409";
    QTest::newRow("zh_CN") << "zh_CN" << "0804";
    QTest::newRow("zh_SG") << "zh_SG" << "1004";
    QTest::newRow("zh_TW") << "zh_TW" << "0404";
    QTest::newRow("de_DE") << "de_DE" << "0407";
    QTest::newRow("fr_CA") << "fr_CA" << "0C0C";
    QTest::newRow("ja_JP") << "ja_JP" << "0411";
    QTest::newRow("language only") << "de" << "0407";
    QTest::newRow("unlisted territory") << "de_BE" << "0407";
    QTest::newRow("POSIX locale with codeset") << "pt_BR.UTF-8" << "0416";
    QTest::newRow("modifier") << "ca_ES@valencia" << "0403";
    QTest::newRow("BCP 47 with script") << "zh-Hant-TW" << "0404";
    QTest::newRow("C locale") << "C" << "0000";
    QTest::newRow("empty") << "" << "0000";
  }

  void localeNamesToLangIds() {
    QFETCH(QString, locale);
    QFETCH(QString, langId);
    QCOMPARE(LangIdText(LangIdForLocale(locale)), langId);
  }

  void fontPropertiesComeFromTheCurrentFileAlone_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("charset");
    QTest::addColumn<QString>("face");
    QTest::addColumn<int>("size");
    QTest::newRow("all given") << "[Translation]\nDefaultCharSet=GB2312_CHARSET\n"
                                  "DefaultFont=WenQuanYi Micro Hei\nDefaultFontSize=11\n"
                               << int(QFontDatabase::SimplifiedChinese) << "WenQuanYi Micro Hei"
                               << 11;
    QTest::newRow("none given, English's not taken")
        << "[S]\nboth=x\n" << int(QFontDatabase::Latin) << "Tahoma" << 8;
    QTest::newRow("Cyrillic, lower-case name") << "[Translation]\nDefaultCharSet=russian_charset\n"
                                               << int(QFontDatabase::Cyrillic) << "Tahoma" << 8;
    QTest::newRow("unknown charset, bad size")
        << "[Translation]\nDefaultCharSet=KLINGON_CHARSET\nDefaultFontSize=big\n"
        << int(QFontDatabase::Any) << "Tahoma" << 8;
    QTest::newRow("empty values") << "[Translation]\nDefaultCharSet=\nDefaultFont=\n"
                                     "DefaultFontSize=\n"
                                  << int(QFontDatabase::Latin) << "Tahoma" << 8;
  }

  void fontPropertiesComeFromTheCurrentFileAlone() {
    QFETCH(QString, text);
    QFETCH(int, charset);
    QFETCH(QString, face);
    QFETCH(int, size);
    Write(QStringLiteral("English"), English);
    Write(QStringLiteral("Other"), text);
    SetLanguage(QStringLiteral("Other"));
    QCOMPARE(int(GetLangCharset()), charset);
    QCOMPARE(GetLangFontName(), face);
    QCOMPARE(GetLangFontSize(), size);
  }

  void langFontCanWriteTheLanguage() {
    const QStringList chinese = QFontDatabase::families(QFontDatabase::SimplifiedChinese);
    if (chinese.isEmpty()) QSKIP("no font for Simplified Chinese is installed");
    Write(QStringLiteral("English"), English);
    Write(QStringLiteral("Zhongwen"), QStringLiteral("[Translation]\n"
                                                     "DefaultCharSet=GB2312_CHARSET\n"
                                                     "DefaultFont=No Such Face\n"
                                                     "DefaultFontSize=12\n"));
    SetLanguage(QStringLiteral("Zhongwen"));
    const QFont font = LangFont();
    QCOMPARE(font.families().value(0), QStringLiteral("No Such Face"));
    QCOMPARE(font.pointSize(), 12);
    const QString fallback = font.families().value(1);
    QVERIFY2(chinese.contains(fallback), qPrintable(fallback));
  }
};

QTEST_MAIN(TranslationTest)
#include "TranslationTest.moc"
