#include "IniFile.h"
#include "LanguageFixture.h"

#include <QStringEncoder>
#include <QTemporaryDir>
#include <QTest>

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
};

QTEST_GUILESS_MAIN(IniFileTest)
#include "IniFileTest.moc"
