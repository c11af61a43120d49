#include "IniFile.h"
#include "LanguageFixture.h"
#include "Settings.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QScopeGuard>
#include <QTest>

#include <pwd.h>
#include <unistd.h>

using restovo::TSettings;

namespace {

const QString Version = QStringLiteral("3.91.206");

QByteArray ReadAll(const QString& fileName) {
  QFile file(fileName);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

bool IsInstallIdForm(const QString& id) {
  static const QRegularExpression form(QStringLiteral(
      "^\\{[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}\\}$"));
  return form.match(id).hasMatch();
}

// A detector that counts its calls.
struct TDetector {
  QString Answer = QStringLiteral("Detected");
  int Calls = 0;
  std::function<QString()> Fn() {
    return [this] {
      ++Calls;
      return Answer;
    };
  }
};

// A program folder, an XDG configuration home and a machine-wide identity file, all in
// one temporary folder; XDG_CONFIG_HOME points at it while the fixture lives.
struct TFixture {
  QTemporaryDir Root;
  QString App;
  QString Xdg;
  QString MachineFile;
  QByteArray OldXdg = qgetenv("XDG_CONFIG_HOME");

  TFixture() {
    App = Root.filePath(QStringLiteral("opt/restovo"));
    Xdg = Root.filePath(QStringLiteral("home/.config"));
    MachineFile = Root.filePath(QStringLiteral("var/lib/restovo/install-id"));
    QDir().mkpath(App);
    qputenv("XDG_CONFIG_HOME", Xdg.toLocal8Bit());
  }
  ~TFixture() {
    if (OldXdg.isNull()) {
      qunsetenv("XDG_CONFIG_HOME");
    } else {
      qputenv("XDG_CONFIG_HOME", OldXdg);
    }
  }
  QString XdgConfigDir() const { return Xdg + QStringLiteral("/Restovo/"); }
  // A regular file: nothing can be created below it.
  QString Blocker() const {
    const QString path = Root.filePath(QStringLiteral("blocker"));
    restovo::test::WriteFile(path, "not a folder");
    return path;
  }
};

}  // namespace

class SettingsTest : public QObject {
  Q_OBJECT

 private slots:
  void freshStartGivesDefaults() {
    TFixture f;
    QVERIFY(f.Root.isValid());
    const QString configDir = restovo::GetConfigDir(f.App);
    QCOMPARE(configDir, f.XdgConfigDir());
    QVERIFY(QFileInfo(configDir).isDir());

    TDetector detector;
    const TSettings s = restovo::LoadSettings(configDir, Version, detector.Fn(), f.MachineFile);
    QCOMPARE(detector.Calls, 1);
    QCOMPARE(s.Lang, QStringLiteral("Detected"));
    QCOMPARE(s.Getnews, true);
    QCOMPARE(s.MsgID, 0);
    QCOMPARE(s.CheckNewVer, true);
    QCOMPARE(s.ShowPreview, true);
    QCOMPARE(s.SetupVer, Version);
    QCOMPARE(s.SetupVerChanged, true);
    QVERIFY2(IsInstallIdForm(s.InstallId), qPrintable(s.InstallId));
  }

  void setupVersionChangesOnlyWithTheVersion() {
    TFixture f;
    const QString configDir = restovo::GetConfigDir(f.App);
    TDetector detector;
    TSettings first = restovo::LoadSettings(configDir, Version, detector.Fn(), f.MachineFile);
    QVERIFY(first.SetupVerChanged);
    QVERIFY(restovo::SaveSettings(configDir, first));

    const TSettings same = restovo::LoadSettings(configDir, Version, detector.Fn(), f.MachineFile);
    QCOMPARE(same.SetupVerChanged, false);
    QCOMPARE(same.SetupVer, Version);
    QCOMPARE(same.Lang, QStringLiteral("Detected"));  // now stored: not detected again
    QCOMPARE(detector.Calls, 1);
    QCOMPARE(same.InstallId, first.InstallId);

    const TSettings newer =
        restovo::LoadSettings(configDir, QStringLiteral("3.91.207"), detector.Fn(), f.MachineFile);
    QCOMPARE(newer.SetupVerChanged, true);
    QCOMPARE(newer.SetupVer, QStringLiteral("3.91.207"));
  }

  void readsTheStoredValues_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("lang");
    QTest::addColumn<bool>("getnews");
    QTest::addColumn<int>("msgId");
    QTest::addColumn<bool>("checkNewVer");
    QTest::addColumn<bool>("showPreview");
    QTest::addColumn<bool>("setupVerChanged");

    QTest::newRow("no numbers read as defaults")
        << "[General]\nLang=German\nGetnews=yes\nMsgID=many\nCheckNewVer=true\nShowPreview=\n"
           "SetupVer=3.91.206\n"
        << "German" << true << 0 << true << true << false;
    QTest::newRow("hexadecimal and decimal")
        << "[General]\nGetnews=0\nMsgID=$10\nCheckNewVer=0x0\nShowPreview=-1\n"
        << "Detected" << false << 16 << false << true << true;
    QTest::newRow("any number but 0 is true")
        << "[General]\nGetnews=2\nMsgID=-5\nCheckNewVer=0X10\nShowPreview=0\n"
        << "Detected" << true << -5 << true << false << true;
    QTest::newRow("names ignore case")
        << "[GENERAL]\nlang=French\ngetnews=0\nmsgid=7\nsetupver=3.91.206\n"
        << "French" << false << 7 << true << true << false;
    QTest::newRow("empty Lang is kept")
        << "[General]\nLang=\n" << "" << true << 0 << true << true << true;
    QTest::newRow("other sections are not read")
        << "[Other]\nLang=French\nGetnews=0\n" << "Detected" << true << 0 << true << true << true;
    QTest::newRow("empty SetupVer differs") << "[General]\nSetupVer=\n"
                                            << "Detected" << true << 0 << true << true << true;
    QTest::newRow("SetupVer compares exactly") << "[General]\nSetupVer=3.91.206 beta\n"
                                               << "Detected" << true << 0 << true << true << true;
  }

  void readsTheStoredValues() {
    QFETCH(QString, text);
    QFETCH(QString, lang);
    QFETCH(bool, getnews);
    QFETCH(int, msgId);
    QFETCH(bool, checkNewVer);
    QFETCH(bool, showPreview);
    QFETCH(bool, setupVerChanged);

    TFixture f;
    const QString configDir = restovo::GetConfigDir(f.App);
    QVERIFY(restovo::test::WriteFile(configDir + QStringLiteral("Config.ini"), text.toUtf8()));
    TDetector detector;
    const TSettings s = restovo::LoadSettings(configDir, Version, detector.Fn(), f.MachineFile);
    QCOMPARE(s.Lang, lang);
    QCOMPARE(detector.Calls, lang == QStringLiteral("Detected") ? 1 : 0);
    QCOMPARE(s.Getnews, getnews);
    QCOMPARE(s.MsgID, msgId);
    QCOMPARE(s.CheckNewVer, checkNewVer);
    QCOMPARE(s.ShowPreview, showPreview);
    QCOMPARE(s.SetupVerChanged, setupVerChanged);
    QCOMPARE(s.SetupVer, Version);
  }

  void unreadableFileGivesDefaults() {
    TFixture f;
    const QString configDir = restovo::GetConfigDir(f.App);
    const QString fileName = configDir + QStringLiteral("Config.ini");
    QVERIFY(restovo::test::WriteFile(fileName, "[General]\nLang=German\nMsgID=9\n"));
    QVERIFY(QFile::setPermissions(fileName, QFileDevice::Permissions()));
    if (QFile(fileName).open(QIODevice::ReadOnly))
      QSKIP("running with rights that ignore file permissions");

    TDetector detector;
    TSettings s = restovo::LoadSettings(configDir, Version, detector.Fn(), f.MachineFile);
    QCOMPARE(s.Lang, QStringLiteral("Detected"));
    QCOMPARE(s.MsgID, 0);
    QVERIFY(s.SetupVerChanged);

    // Saving must not replace a file whose content could not be read.
    s.MsgID = 4;
    QCOMPARE(restovo::SaveSettings(configDir, s), false);
    QVERIFY(QFile::setPermissions(fileName, QFileDevice::ReadOwner | QFileDevice::WriteOwner));
    QCOMPARE(ReadAll(fileName), QByteArray("[General]\nLang=German\nMsgID=9\n"));
  }

  void emptyLangIsWrittenBackEmpty() {
    TFixture f;
    const QString configDir = restovo::GetConfigDir(f.App);
    const QString fileName = configDir + QStringLiteral("Config.ini");
    QVERIFY(restovo::test::WriteFile(fileName, "[General]\nLang=\n"));
    TDetector detector;
    const TSettings s = restovo::LoadSettings(configDir, Version, detector.Fn(), f.MachineFile);
    QCOMPARE(s.Lang, QString());
    QVERIFY(restovo::SaveSettings(configDir, s));

    restovo::TIniFile ini;
    QVERIFY(ini.LoadFromFile(fileName));
    QVERIFY(ini.ValueExists(u"General", u"Lang"));
    QCOMPARE(ini.ReadString(u"General", u"Lang", QStringLiteral("<missing>")), QString());
    QCOMPARE(restovo::LoadSettings(configDir, Version, detector.Fn(), f.MachineFile).Lang,
             QString());
    QCOMPARE(detector.Calls, 0);
  }

  void savesInOrderAndKeepsTheRest() {
    TFixture f;
    const QString configDir = restovo::GetConfigDir(f.App);
    const QString fileName = configDir + QStringLiteral("Config.ini");

    // A new file holds [General] alone, the keys in their order.
    TSettings s;
    s.Lang = QStringLiteral("Español");
    s.Getnews = false;
    s.MsgID = 12;
    s.CheckNewVer = true;
    s.ShowPreview = false;
    s.SetupVer = Version;
    s.InstallId = QStringLiteral("{00000000-0000-0000-0000-000000000001}");
    QVERIFY(restovo::SaveSettings(configDir, s));
    QCOMPARE(ReadAll(fileName), QStringLiteral("[General]\nLang=Español\nGetnews=0\nMsgID=12\n"
                                               "CheckNewVer=1\nShowPreview=0\nSetupVer=3.91.206\n")
                                    .toUtf8());

    // An existing file keeps its other sections and keys, and their order and spelling.
    QVERIFY(restovo::test::WriteFile(
        fileName,
        "[Window]\nLeft=10\n[general]\nCustom=x\nGETNEWS=1\nLang=English\n"
        "[Recent]\nPath1=/tmp/a\n"));
    QVERIFY(restovo::SaveSettings(configDir, s));
    QCOMPARE(ReadAll(fileName),
             QStringLiteral("[Window]\nLeft=10\n\n[general]\nCustom=x\nGETNEWS=0\nLang=Español\n"
                            "MsgID=12\nCheckNewVer=1\nShowPreview=0\nSetupVer=3.91.206\n\n"
                            "[Recent]\nPath1=/tmp/a\n")
                 .toUtf8());

    TDetector detector;
    const TSettings back = restovo::LoadSettings(configDir, Version, detector.Fn(), f.MachineFile);
    QCOMPARE(back.Lang, s.Lang);
    QCOMPARE(back.Getnews, s.Getnews);
    QCOMPARE(back.MsgID, s.MsgID);
    QCOMPARE(back.CheckNewVer, s.CheckNewVer);
    QCOMPARE(back.ShowPreview, s.ShowPreview);
    QCOMPARE(back.SetupVerChanged, false);
    QVERIFY(!ReadAll(fileName).contains("InstallId"));
  }

  void saveErrorsAreSwallowed() {
    TFixture f;
    TSettings s;
    QCOMPARE(restovo::SaveSettings(f.Blocker() + QStringLiteral("/Restovo/"), s), false);
  }

  void portableFolderBesideTheProgram() {
    TFixture f;
    const QString portableFile = f.App + QStringLiteral("/CONFIG.INI");
    QVERIFY(
        restovo::test::WriteFile(portableFile, "[General]\nLang=Dutch\nMsgID=4\n[Keep]\nk=v\n"));

    const QString configDir = restovo::GetConfigDir(f.App);
    QCOMPARE(configDir, f.App + u'/');
    QCOMPARE(restovo::GetConfigDir(f.App + u'/'), configDir);
    QCOMPARE(restovo::ConfigFilePath(configDir), portableFile);
    QVERIFY(!QFileInfo::exists(f.XdgConfigDir()));

    TDetector detector;
    TSettings s = restovo::LoadSettings(configDir, Version, detector.Fn(), f.MachineFile);
    QCOMPARE(s.Lang, QStringLiteral("Dutch"));
    QCOMPARE(s.MsgID, 4);
    s.MsgID = 5;
    QVERIFY(restovo::SaveSettings(configDir, s));
    QCOMPARE(QDir(f.App).entryList(QDir::Files), QStringList({"CONFIG.INI"}));
    restovo::TIniFile ini;
    QVERIFY(ini.LoadFromFile(portableFile));
    QCOMPARE(ini.ReadInteger(u"General", u"MsgID", 0), 5);
    QCOMPARE(ini.ReadString(u"Keep", u"k"), QStringLiteral("v"));
  }

  void configFileNameIgnoresCase() {
    QTemporaryDir dir;
    const QString path = dir.path() + u'/';
    QCOMPARE(restovo::ConfigFilePath(path), path + QStringLiteral("Config.ini"));
    // A folder of that name is no settings file.
    QVERIFY(QDir().mkpath(path + QStringLiteral("config.ini")));
    QCOMPARE(restovo::ConfigFilePath(path), path + QStringLiteral("Config.ini"));
    QVERIFY(restovo::test::WriteFile(path + QStringLiteral("cOnFiG.iNi"), {}));
    QCOMPARE(restovo::ConfigFilePath(dir.path()), path + QStringLiteral("cOnFiG.iNi"));
    QVERIFY(restovo::test::WriteFile(path + QStringLiteral("Config.ini"), {}));
    QCOMPARE(restovo::ConfigFilePath(path), path + QStringLiteral("Config.ini"));
  }

  void xdgFolderOtherwise() {
    TFixture f;
    // Not there yet: made with its parents.
    QVERIFY(!QFileInfo::exists(f.Xdg));
    QCOMPARE(restovo::GetConfigDir(f.App), f.XdgConfigDir());
    QVERIFY(QFileInfo(f.XdgConfigDir()).isDir());
    // A folder named config.ini beside the program does not make it portable.
    QVERIFY(QDir().mkpath(f.App + QStringLiteral("/config.ini")));
    QCOMPARE(restovo::GetConfigDir(f.App), f.XdgConfigDir());

    // When the folder cannot be made, the program's folder serves.
    qputenv("XDG_CONFIG_HOME", (f.Blocker() + QStringLiteral("/config")).toLocal8Bit());
    QCOMPARE(restovo::GetConfigDir(f.App), f.App + u'/');
  }

  // pkexec passes neither HOME nor XDG_CONFIG_HOME; the settings are those of the account
  // PKEXEC_UID names, wherever HOME and XDG_CONFIG_HOME point.
  void pkexecTakesTheInvokingUsersFolder() {
    TFixture f;
    const QByteArray oldHome = qgetenv("HOME");
    const QByteArray oldUid = qgetenv("PKEXEC_UID");
    const auto restore = qScopeGuard([&] {
      oldHome.isNull() ? qunsetenv("HOME") : qputenv("HOME", oldHome);
      oldUid.isNull() ? qunsetenv("PKEXEC_UID") : qputenv("PKEXEC_UID", oldUid);
    });
    qputenv("HOME", f.Root.filePath(QStringLiteral("elsewhere")).toLocal8Bit());
    const passwd* me = ::getpwuid(::getuid());
    QVERIFY(me != nullptr);
    const QString home = QFile::decodeName(me->pw_dir);
    const QString expected = (home.endsWith(u'/') ? home : home + u'/') + QStringLiteral(".config");

    qunsetenv("PKEXEC_UID");
    QCOMPARE(restovo::InvokingUserConfigHome(), QString());
    QCOMPARE(restovo::GetConfigDir(f.App), f.XdgConfigDir());

    qputenv("PKEXEC_UID", QByteArray::number(::getuid()));
    QCOMPARE(restovo::InvokingUserConfigHome(), expected);
    QCOMPARE(restovo::GetConfigDir(f.App), expected + QStringLiteral("/Restovo/"));
    QVERIFY(QFileInfo(expected + QStringLiteral("/Restovo")).isDir());
    // A portable copy stays portable.
    QFile portable(f.App + QStringLiteral("/config.ini"));
    QVERIFY(portable.open(QIODevice::WriteOnly));
    portable.close();
    QCOMPARE(restovo::GetConfigDir(f.App), f.App + u'/');
    QVERIFY(portable.remove());

    // Garbage or an account that does not exist: the usual folder.
    uint unknown = 60000;
    while (::getpwuid(unknown) != nullptr) ++unknown;
    for (const QByteArray& value : {QByteArray("root"), QByteArray(""), QByteArray("-1"),
                                    QByteArray::number(unknown)}) {
      qputenv("PKEXEC_UID", value);
      QCOMPARE(restovo::InvokingUserConfigHome(), QString());
      QCOMPARE(restovo::GetConfigDir(f.App), f.XdgConfigDir());
    }
  }

  void installIdIsKeptPerMachine() {
    TFixture f;
    const QString fallbackDir = f.Root.filePath(QStringLiteral("settings/"));
    const QString id = restovo::GetInstallId(f.MachineFile, fallbackDir);
    QVERIFY2(IsInstallIdForm(id), qPrintable(id));
    QCOMPARE(QString::fromLatin1(ReadAll(f.MachineFile)).trimmed(), id);
    QCOMPARE(restovo::GetInstallId(f.MachineFile, fallbackDir), id);
    QVERIFY(!QFileInfo::exists(fallbackDir + QStringLiteral("install-id")));

    // Another machine file, another identity.
    const QString other = restovo::GetInstallId(f.Root.filePath(QStringLiteral("other/id")),
                                                fallbackDir);
    QVERIFY(IsInstallIdForm(other));
    QVERIFY(other != id);
  }

  void invalidInstallIdIsReplaced_data() {
    QTest::addColumn<QByteArray>("content");
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("garbage") << QByteArray("not an id\n");
    QTest::newRow("without braces") << QByteArray("0F8FAD5B-D9CB-469F-A165-70867728950E\n");
    QTest::newRow("null GUID") << QByteArray("{00000000-0000-0000-0000-000000000000}\n");
    QTest::newRow("a digit short") << QByteArray("{0F8FAD5B-D9CB-469F-A165-70867728950}\n");
  }

  void invalidInstallIdIsReplaced() {
    QFETCH(QByteArray, content);
    TFixture f;
    QVERIFY(QDir().mkpath(QFileInfo(f.MachineFile).absolutePath()));
    QVERIFY(restovo::test::WriteFile(f.MachineFile, content));
    const QString id = restovo::GetInstallId(f.MachineFile, f.Root.filePath(QStringLiteral("s")));
    QVERIFY2(IsInstallIdForm(id), qPrintable(id));
    QCOMPARE(QString::fromLatin1(ReadAll(f.MachineFile)).trimmed(), id);
  }

  void storedInstallIdIsTaken() {
    TFixture f;
    QVERIFY(QDir().mkpath(QFileInfo(f.MachineFile).absolutePath()));
    // Written by hand or by an older tool: lower case and a line end are accepted.
    QVERIFY(restovo::test::WriteFile(f.MachineFile, "{0f8fad5b-d9cb-469f-a165-70867728950e}\r\n"));
    QCOMPARE(restovo::GetInstallId(f.MachineFile, f.Root.filePath(QStringLiteral("s"))),
             QStringLiteral("{0F8FAD5B-D9CB-469F-A165-70867728950E}"));
  }

  void installIdFallsBackToTheSettingsFolder() {
    TFixture f;
    const QString machineFile = f.Blocker() + QStringLiteral("/restovo/install-id");
    const QString fallbackDir = f.Root.filePath(QStringLiteral("settings"));
    const QString id = restovo::GetInstallId(machineFile, fallbackDir);
    QVERIFY2(IsInstallIdForm(id), qPrintable(id));
    QCOMPARE(QString::fromLatin1(ReadAll(fallbackDir + QStringLiteral("/install-id"))).trimmed(),
             id);
    QCOMPARE(restovo::GetInstallId(machineFile, fallbackDir), id);

    // LoadSettings keeps it beside Config.ini.
    const QString configDir = restovo::GetConfigDir(f.App);
    TDetector detector;
    const TSettings s = restovo::LoadSettings(configDir, Version, detector.Fn(), machineFile);
    QVERIFY(IsInstallIdForm(s.InstallId));
    QCOMPARE(QString::fromLatin1(ReadAll(configDir + QStringLiteral("install-id"))).trimmed(),
             s.InstallId);
    QCOMPARE(restovo::LoadSettings(configDir, Version, detector.Fn(), machineFile).InstallId,
             s.InstallId);
  }

  void installIdServesTheRunWhenNothingCanBeWritten() {
    TFixture f;
    const QString blocker = f.Blocker();
    const QString machineFile = blocker + QStringLiteral("/restovo/install-id");
    const QString fallbackDir = blocker + QStringLiteral("/settings/");
    const QString first = restovo::GetInstallId(machineFile, fallbackDir);
    const QString second = restovo::GetInstallId(machineFile, fallbackDir);
    QVERIFY(IsInstallIdForm(first));
    QVERIFY(IsInstallIdForm(second));
    QVERIFY(first != second);  // nothing kept
  }

  void installIdValidity_data() {
    QTest::addColumn<QString>("id");
    QTest::addColumn<bool>("valid");
    QTest::newRow("upper case") << "{0F8FAD5B-D9CB-469F-A165-70867728950E}" << true;
    QTest::newRow("lower case") << "{0f8fad5b-d9cb-469f-a165-70867728950e}" << true;
    QTest::newRow("no braces") << "0F8FAD5B-D9CB-469F-A165-70867728950E" << false;
    QTest::newRow("null") << "{00000000-0000-0000-0000-000000000000}" << false;
    QTest::newRow("groups moved") << "{0F8FAD5BD-9CB-469F-A165-70867728950E}" << false;
    QTest::newRow("not hex") << "{0F8FAD5B-D9CB-469F-A165-70867728950G}" << false;
    QTest::newRow("spaces around") << " {0F8FAD5B-D9CB-469F-A165-70867728950E}" << false;
    QTest::newRow("empty") << "" << false;
  }

  void installIdValidity() {
    QFETCH(QString, id);
    QFETCH(bool, valid);
    QCOMPARE(restovo::IsValidInstallId(id), valid);
  }

  void formatsVersionText_data() {
    QTest::addColumn<int>("major");
    QTest::addColumn<int>("minor");
    QTest::addColumn<int>("release");
    QTest::addColumn<int>("build");
    QTest::addColumn<QString>("text");
    QTest::newRow("3.9.1.206") << 3 << 9 << 1 << 206 << "3.91.206";
    QTest::newRow("1.0.0.1") << 1 << 0 << 0 << 1 << "1.00.1";
    QTest::newRow("two-digit parts") << 12 << 10 << 15 << 0 << "12.1015.0";
  }

  void formatsVersionText() {
    QFETCH(int, major);
    QFETCH(int, minor);
    QFETCH(int, release);
    QFETCH(int, build);
    QFETCH(QString, text);
    QCOMPARE(restovo::FormatVersionText(major, minor, release, build), text);
  }

  void builtVersionIsTheProjectVersion() {
    // The project's version as project() in CMakeLists.txt states it.
    const QStringList parts = QStringLiteral(RESTOVO_PROJECT_VERSION).split(u'.');
    QCOMPARE(parts.size(), 4);
    QCOMPARE(restovo::VersionText(),
             restovo::FormatVersionText(parts[0].toInt(), parts[1].toInt(), parts[2].toInt(),
                                        parts[3].toInt()));
    QCOMPARE(restovo::BuildNumber(), parts[3].toInt());
  }
};

QTEST_GUILESS_MAIN(SettingsTest)
#include "SettingsTest.moc"
