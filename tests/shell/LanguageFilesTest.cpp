// The language files as they ship, read from where the program finds them.
#include "AppPaths.h"
#include "IniFile.h"
#include "Translation.h"

#include <QFile>
#include <QRegularExpression>
#include <QTest>

using namespace restovo;

namespace {

const QStringList ShippedLanguages = {"Deutsch", "English", "Français", "简体中文"};

TIniFile ReadLanguage(const QString& name) {
  TIniFile ini;
  ini.LoadFromFile(LanguageDir() + name + QStringLiteral(".ini"));
  return ini;
}

// The parts of a text a translation must keep as they are.
QStringList Placeholders(const QString& text) {
  static const QRegularExpression pattern(QStringLiteral(R"(%d|\([^)]*\*[^)]*\))"));
  QStringList found;
  for (const auto& match : pattern.globalMatch(text)) found << match.captured();
  return found;
}

}  // namespace

class LanguageFilesTest : public QObject {
  Q_OBJECT

 private slots:
  void init() { ResetLanguageState(); }

  void shippedFilesAreListed() {
    ListLanguages();
    for (const QString& name : ShippedLanguages)
      QVERIFY2(Languages().contains(name), qPrintable(name));
  }

  void filesAreUtf16WithBom_data() {
    QTest::addColumn<QString>("name");
    for (const QString& name : ShippedLanguages) QTest::newRow(qPrintable(name)) << name;
  }

  void filesAreUtf16WithBom() {
    QFETCH(QString, name);
    QFile file(LanguageDir() + name + QStringLiteral(".ini"));
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    QVERIFY(bytes.startsWith("\xFF\xFE"));
    QCOMPARE(bytes.size() % 2, 0);
    const QString text = DecodeIniBytes(bytes);
    QVERIFY2(!text.contains(QChar::ReplacementCharacter), "the file is not valid UTF-16");
    QVERIFY(!text.contains(QChar::ByteOrderMark));
  }

  void everyEnglishKeyIsTranslated_data() { filesAreUtf16WithBom_data(); }

  void everyEnglishKeyIsTranslated() {
    QFETCH(QString, name);
    const TIniFile english = ReadLanguage(QStringLiteral("English"));
    const TIniFile language = ReadLanguage(name);
    QVERIFY(english.IsLoaded());
    QVERIFY(language.IsLoaded());
    QCOMPARE(language.Sections(), english.Sections());
    for (const QString& section : english.Sections()) {
      for (const QString& key : english.Keys(section)) {
        const QString where = section + QLatin1Char('/') + key;
        const QString value = language.ReadString(section, key);
        QVERIFY2(!value.isEmpty(), qPrintable(where + " is missing"));
        QVERIFY2(!value.startsWith(QLatin1Char(' ')) && !value.endsWith(QLatin1Char(' ')),
                 qPrintable(where));
        QVERIFY2(Placeholders(value) == Placeholders(english.ReadString(section, key)),
                 qPrintable(where + " changes a placeholder or a file pattern"));
      }
      // A key English does not have is a misspelt one: nothing would ever read it.
      for (const QString& key : language.Keys(section))
        QVERIFY2(english.ValueExists(section, key), qPrintable(section + "/" + key));
    }
    QCOMPARE(language.ReadString(u"Translation", u"N1"), QStringLiteral("-"));
    QCOMPARE(language.ReadString(u"Translation", u"N2"), QStringLiteral("-"));
  }

  void fontsAreThereAndLangCodesWellFormed_data() { filesAreUtf16WithBom_data(); }

  void fontsAreThereAndLangCodesWellFormed() {
    QFETCH(QString, name);
    QCOMPARE(SetLanguage(name), TLanguageSwitch::Chosen);
    QVERIFY2(QFontDatabase::hasFamily(GetLangFontName()), qPrintable(GetLangFontName()));
    QVERIFY(GetLangFontSize() >= 8);
    QVERIFY(GetLangCharset() != QFontDatabase::Any);
    static const QRegularExpression langId(QStringLiteral("^[0-9A-F]{4}$"));
    const QString langCode = ReadLanguage(name).ReadString(u"Translation", u"LangCode");
    QVERIFY(!LangCodePieces(langCode).isEmpty());
    for (const QString& piece : langCode.split(QLatin1Char('|')))
      QVERIFY2(langId.match(piece).hasMatch(), qPrintable(langCode));
  }

  void detectsTheShippedLanguages_data() {
    QTest::addColumn<int>("langId");
    QTest::addColumn<QString>("expected");
    QTest::newRow("zh_CN") << 0x0804 << "简体中文";
    QTest::newRow("zh_SG") << 0x1004 << "简体中文";
    QTest::newRow("zh_TW") << 0x0404 << "English";
    QTest::newRow("de_AT") << 0x0C07 << "Deutsch";
    QTest::newRow("fr_CH") << 0x100C << "Français";
    QTest::newRow("en_GB") << 0x0809 << "English";
    QTest::newRow("ja_JP") << 0x0411 << "English";
  }

  void detectsTheShippedLanguages() {
    QFETCH(int, langId);
    QFETCH(QString, expected);
    ListLanguages();
    SetUserLangId(static_cast<std::uint16_t>(langId));
    QCOMPARE(DetectLanguage(), expected);
  }

  void chineseOffersTheChineseNetworks() {
    // The share buttons compare the whole value, not its pieces.
    SetLanguage(QStringLiteral("简体中文"));
    QCOMPARE(TranslateText("Translation", "LangCode", {}), QStringLiteral("0804|1004"));
    SetLanguage(QStringLiteral("English"));
    QVERIFY(!LangCodeMatches(QStringLiteral("0804")));
  }

  void controlKeysExistInEnglish() {
    const TIniFile english = ReadLanguage(QStringLiteral("English"));
    QVERIFY(english.ValueExists(u"Translation",
                                ControlKey("FrmFRMain", "btnsearchcancel", "caption")));
    QVERIFY(english.ValueExists(u"Translation", ControlKey("FrmFRAbout", "lblver", "caption")));
    for (int i = 0; i < 5; ++i)
      QVERIFY(english.ValueExists(u"FileRecovery", HeaderItemKey("FrmFRMain", "lstFile", i)));
  }
};

QTEST_MAIN(LanguageFilesTest)
#include "LanguageFilesTest.moc"
