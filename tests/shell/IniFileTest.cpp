#include "IniFile.h"
#include "LanguageFixture.h"

#include <QFile>
#include <QStringEncoder>
#include <QTemporaryDir>
#include <QTest>

#include <limits>

using restovo::TIniFile;

namespace {

const QString Missing = QStringLiteral("<missing>");

QByteArray Encoded(const QString& text, QStringConverter::Encoding encoding, bool bom) {
  QStringEncoder encoder(encoding, bom ? QStringConverter::Flag::WriteBom
                                       : QStringConverter::Flag::Default);
  return encoder.encode(text);
}

}  // namespace

class IniFileTest : public QObject {
  Q_OBJECT

 private slots:
  void readsByTheRules_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("section");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("expected");

    const QString sample = QStringLiteral("[Größe]\r\nSchlüssel=Wert ä 中文\r\n");
    const auto row = [](const char* name, const QByteArray& bytes, const char* section,
                        const char* key, const QString& expected) {
      QTest::newRow(name) << bytes << QString::fromUtf8(section) << QString::fromUtf8(key)
                          << expected;
    };
    const QString value = QStringLiteral("Wert ä 中文");
    row("UTF-16LE with BOM", Encoded(sample, QStringConverter::Utf16LE, true), "Größe",
        "Schlüssel", value);
    row("UTF-16BE with BOM", Encoded(sample, QStringConverter::Utf16BE, true), "Größe",
        "Schlüssel", value);
    row("UTF-8 with BOM", Encoded(sample, QStringConverter::Utf8, true), "Größe",
        "Schlüssel", value);
    row("UTF-8 without BOM", sample.toUtf8(), "Größe", "Schlüssel", value);
    row("names ignore case", "[Translation]\nLangCode=0804\n", "TRANSLATION", "langcode",
        "0804");
    row("non-ASCII names ignore case", sample.toUtf8(), "GRÖßE", "SCHLÜSSEL", value);
    row("first key wins", "[S]\nkey=first\nKEY=second\n", "S", "key", "first");
    row("repeated section is skipped", "[S]\na=1\n[T]\nx=1\n[s]\na=2\nb=3\n", "S", "b",
        Missing);
    row("repeated section keeps the first", "[S]\na=1\n[s]\na=2\n", "S", "a", "1");
    row("line without = holds no key", "[S]\nkey\nkey=later\n", "S", "key", "later");
    row("line without = never matches", "[S]\nkey\n", "S", "key", Missing);
    row("lines before the first section", "key=early\n[S]\nother=1\n", "S", "key", Missing);
    row("empty value is a value", "[S]\nkey=\n", "S", "key", QString());
    row("trimmed lines, names and values", "  [ S ]  \n\t key \t=  two words \t\n", "S",
        "key", "two words");
    row("split at the first =", "[S]\nkey=a=b\n", "S", "key", "a=b");
    row("comment lines", "[S]\n  ;key=commented\nkey=real\n", "S", "key", "real");
    row("values are literal", "[S]\nkey=\"quoted\\n\" ;not a comment\n", "S", "key",
        "\"quoted\\n\" ;not a comment");
    row("CR line ends", "[S]\rkey=1\rnext=2\r", "S", "next", "2");
    row("last line without line end", "[S]\nkey=1", "S", "key", "1");
    row("unknown section", "[S]\nkey=1\n", "T", "key", Missing);
  }

  void readsByTheRules() {
    QFETCH(QByteArray, bytes);
    QFETCH(QString, section);
    QFETCH(QString, key);
    QFETCH(QString, expected);

    TIniFile ini;
    ini.LoadFromBytes(bytes);
    QVERIFY(ini.IsLoaded());
    const QString value = ini.ReadString(section, key, Missing);
    QCOMPARE(value, expected);
    QCOMPARE(ini.ValueExists(section, key), expected != Missing);
  }

  void keepsFileOrderAndSpelling() {
    TIniFile ini;
    ini.LoadFromText(u"[Zeta]\nB=1\na=2\nb=3\n[alpha]\nx=1\n[ZETA]\nc=4\n");
    QCOMPARE(ini.Sections(), QStringList({"Zeta", "alpha"}));
    QCOMPARE(ini.Keys(u"zeta"), QStringList({"B", "a"}));
    QCOMPARE(ini.Keys(u"missing"), QStringList());
  }

  void missingFileIsNotLoaded() {
    QTemporaryDir dir;
    TIniFile ini;
    ini.LoadFromText(u"[S]\nkey=stale\n");
    QVERIFY(!ini.LoadFromFile(dir.filePath(QStringLiteral("absent.ini"))));
    QVERIFY(!ini.IsLoaded());
    QCOMPARE(ini.ReadString(u"S", u"key", QStringLiteral("default")), QStringLiteral("default"));

    const QString empty = dir.filePath(QStringLiteral("empty.ini"));
    QVERIFY(restovo::test::WriteFile(empty, {}));
    QVERIFY(ini.LoadFromFile(empty));
    QVERIFY(ini.IsLoaded());
    QCOMPARE(ini.FileName(), empty);
    QVERIFY(ini.Sections().isEmpty());
  }

  void readsNumbersAndSwitches_data() {
    QTest::addColumn<QString>("value");
    QTest::addColumn<int>("integer");  // what ReadInteger gives with the default 77
    QTest::addColumn<int>("boolean");  // ReadBool with default false, then with default true:
                                       // 0 false, 1 true, -1 the default

    const auto row = [](const char* name, const QString& value, int integer, int boolean) {
      QTest::newRow(name) << value << integer << boolean;
    };
    row("decimal", "42", 42, 1);
    row("zero", "0", 0, 0);
    row("negative", "-5", -5, 1);
    row("plus sign", "+7", 7, 1);
    row("leading zeros", "007", 7, 1);
    row("0x hex zero", "0x0", 0, 0);
    row("0X hex upper", "0X1F", 31, 1);
    row("$ hex", "$10", 16, 1);
    row("$ hex letters either case", "$aB", 171, 1);
    row("negative hex", "-$10", -16, 1);
    row("largest int", "2147483647", std::numeric_limits<int>::max(), 1);
    row("smallest int", "-2147483648", std::numeric_limits<int>::min(), 1);
    row("too large", "2147483648", 77, -1);
    row("hex too large", "$FFFFFFFF", 77, -1);
    row("word", "yes", 77, -1);
    row("true is no number", "true", 77, -1);
    row("empty", "", 77, -1);
    row("prefix alone", "0x", 77, -1);
    row("dollar alone", "$", 77, -1);
    row("sign alone", "-", 77, -1);
    row("hex digit without prefix", "1F", 77, -1);
    row("trailing garbage", "12abc", 77, -1);
    row("inner space", "1 2", 77, -1);
    row("decimal point", "1.5", 77, -1);
    row("two signs", "--1", 77, -1);
    row("non-ASCII digit", QStringLiteral("\u0663"), 77, -1);  // Arabic-Indic three
  }

  void readsNumbersAndSwitches() {
    QFETCH(QString, value);
    QFETCH(int, integer);
    QFETCH(int, boolean);

    TIniFile ini;
    ini.LoadFromText(QStringLiteral("[S]\nkey=") + value + u'\n');
    QCOMPARE(ini.ReadInteger(u"s", u"KEY", 77), integer);
    QCOMPARE(ini.ReadBool(u"S", u"key", false), boolean == -1 ? false : boolean == 1);
    QCOMPARE(ini.ReadBool(u"S", u"key", true), boolean == -1 ? true : boolean == 1);
  }

  void missingKeysReadAsDefaults() {
    TIniFile ini;
    ini.LoadFromText(u"[S]\nkey=1\n");
    QCOMPARE(ini.ReadInteger(u"S", u"other", -3), -3);
    QCOMPARE(ini.ReadInteger(u"T", u"key", 9), 9);
    QCOMPARE(ini.ReadBool(u"S", u"other", true), true);
    QCOMPARE(ini.ReadBool(u"T", u"key", false), false);
  }

  void writesIntoWhatWasLoaded() {
    TIniFile ini;
    ini.LoadFromText(u"[General]\nLang=German\nMsgID=3\n[Other]\nkeep=this\n");
    ini.WriteString(u"GENERAL", u"lang", QStringLiteral("French"));  // replaced in place
    ini.WriteInteger(u"general", u"MsgId", -12);
    ini.WriteBool(u"General", u"Getnews", false);  // appended to its section
    ini.WriteBool(u"General", u"ShowPreview", true);
    ini.WriteString(u"New", u"Key", QString());    // a new section at the end
    ini.WriteString(u"new", u"KEY", QStringLiteral("v"));

    QCOMPARE(ini.ToText(), QStringLiteral("[General]\nLang=French\nMsgID=-12\nGetnews=0\n"
                                          "ShowPreview=1\n\n[Other]\nkeep=this\n\n"
                                          "[New]\nKey=v\n"));
    QCOMPARE(ini.ReadString(u"General", u"Lang"), QStringLiteral("French"));
    QCOMPARE(ini.ReadInteger(u"General", u"MsgID", 0), -12);
    QCOMPARE(ini.ReadBool(u"General", u"Getnews", true), false);
  }

  void writesIntoNothingLoaded() {
    TIniFile ini;
    ini.WriteString(u"S", u"a", QStringLiteral("1"));
    ini.WriteString(u"T", u"b", QStringLiteral("2"));
    QCOMPARE(ini.ToText(), QStringLiteral("[S]\na=1\n\n[T]\nb=2\n"));
  }

  void savesWhatReadsBackTheSame() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString fileName = dir.filePath(QStringLiteral("Config.ini"));
    // Loaded from UTF-16 with CRLF line ends, comments and a repeated key.
    const QString original =
        QStringLiteral("; comment\r\n[Größe]\r\nSchlüssel = Wert 中文 \r\nschlüssel=2\r\n"
                       "[General]\r\nEmpty=\r\nLang=English\r\n");
    QVERIFY(restovo::test::WriteFile(fileName, Encoded(original, QStringConverter::Utf16LE, true)));

    TIniFile ini;
    QVERIFY(ini.LoadFromFile(fileName));
    ini.WriteString(u"general", u"LANG", QStringLiteral("Español"));
    QVERIFY(ini.SaveToFile(fileName));

    QFile file(fileName);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    QCOMPARE(bytes, QStringLiteral("[Größe]\nSchlüssel=Wert 中文\n\n[General]\nEmpty=\n"
                                   "Lang=Español\n")
                        .toUtf8());

    TIniFile again;
    QVERIFY(again.LoadFromFile(fileName));
    QCOMPARE(again.Sections(), ini.Sections());
    QCOMPARE(again.Keys(u"General"), QStringList({"Empty", "Lang"}));
    QCOMPARE(again.ReadString(u"General", u"Lang"), QStringLiteral("Español"));
    QVERIFY(again.ValueExists(u"General", u"Empty"));
  }

  void failedSaveLeavesTheFileAlone() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    TIniFile ini;
    ini.WriteString(u"S", u"a", QStringLiteral("1"));
    // A folder that does not exist cannot take the file.
    QVERIFY(!ini.SaveToFile(dir.filePath(QStringLiteral("absent/Config.ini"))));
    QVERIFY(!QFile::exists(dir.filePath(QStringLiteral("absent"))));

    // A read-only folder keeps the old content whole.
    const QString sub = dir.filePath(QStringLiteral("ro"));
    QVERIFY(QDir().mkpath(sub));
    const QString fileName = sub + QStringLiteral("/Config.ini");
    QVERIFY(restovo::test::WriteFile(fileName, "[Old]\nx=1\n"));
    QVERIFY(QFile::setPermissions(sub, QFileDevice::ReadOwner | QFileDevice::ExeOwner));
    const bool saved = ini.SaveToFile(fileName);
    QFile::setPermissions(sub, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                   QFileDevice::ExeOwner);
    if (saved) QSKIP("running with rights that ignore folder permissions");
    QFile file(fileName);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("[Old]\nx=1\n"));
  }
};

QTEST_GUILESS_MAIN(IniFileTest)
#include "IniFileTest.moc"
