#include "Settings.h"

#include "AppPaths.h"
#include "IniFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSaveFile>
#include <QStandardPaths>
#include <QUuid>

#include <pwd.h>
#include <sys/types.h>
#include <unistd.h>

#if !defined(RESTOVO_VERSION_MAJOR) || !defined(RESTOVO_VERSION_MINOR) || \
    !defined(RESTOVO_VERSION_PATCH) || !defined(RESTOVO_VERSION_TWEAK)
#error "The build passes the project's four version numbers as RESTOVO_VERSION_*"
#endif

namespace restovo {

namespace {

const QString General = QStringLiteral("General");
const QString ConfigName = QStringLiteral("Config.ini");
const QString FallbackIdName = QStringLiteral("install-id");

QString WithSlash(const QString& dir) {
  return dir.endsWith(u'/') ? dir : dir + u'/';
}

// The files of `dir` whose names are "config.ini" in some letter case, "Config.ini" first.
QStringList ConfigFilesIn(const QString& dir) {
  QStringList matches;
  const QDir folder(dir);
  const QStringList names =
      folder.entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
  for (const QString& name : names) {
    if (name.compare(ConfigName, Qt::CaseInsensitive) != 0) continue;
    if (name == ConfigName) {
      matches.prepend(name);
    } else {
      matches.append(name);
    }
  }
  return matches;
}

// The account PKEXEC_UID names, when it names one.
const passwd* InvokingUser() {
  bool ok = false;
  const uint uid = qEnvironmentVariable("PKEXEC_UID").toUInt(&ok);
  return ok ? ::getpwuid(static_cast<uid_t>(uid)) : nullptr;
}

// Run as root through pkexec, files made in the user's settings folder stay the user's, or
// the next start without rights could not write them.
void GiveToInvokingUser(const QString& path) {
  if (::geteuid() != 0) return;
  const passwd* user = InvokingUser();
  if (user == nullptr || user->pw_uid == 0) return;
  if (::chown(QFile::encodeName(path).constData(), user->pw_uid, user->pw_gid) != 0) {
    // Left to root: the next start with rights can still use it.
  }
}

// The identity in `fileName` when it holds a valid one, upper-cased.
QString ReadInstallId(const QString& fileName) {
  QFile file(fileName);
  if (!file.open(QIODevice::ReadOnly)) return {};
  const QString id = QString::fromUtf8(file.read(256)).trimmed();
  return IsValidInstallId(id) ? id.toUpper() : QString();
}

bool WriteInstallId(const QString& fileName, const QString& id) {
  if (!QDir().mkpath(QFileInfo(fileName).absolutePath())) return false;
  QSaveFile file(fileName);
  if (!file.open(QIODevice::WriteOnly)) return false;
  const QByteArray bytes = id.toLatin1() + '\n';
  if (file.write(bytes) != bytes.size()) {
    file.cancelWriting();
    return false;
  }
  return file.commit();
}

// The machine-wide identity file belongs to root; only the fallback lies in the user's folder.
bool WriteFallbackInstallId(const QString& fileName, const QString& id) {
  if (!WriteInstallId(fileName, id)) return false;
  GiveToInvokingUser(fileName);
  return true;
}

}  // namespace

QString GetConfigDir(const QString& appDir) {
  const QString portable = WithSlash(appDir);
  if (!ConfigFilesIn(portable).isEmpty()) return portable;

  // Through pkexec the invoking user's folder; when that cannot be had, the one of the
  // account the program runs as.
  for (const QString& base :
       {InvokingUserConfigHome(), QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)}) {
    if (base.isEmpty()) continue;
    const bool baseExisted = QFileInfo(base).isDir();
    const QString dir = WithSlash(base) + QStringLiteral("Restovo/");
    if (!QFileInfo(dir).isDir() && QDir().mkpath(dir)) {
      if (!baseExisted) GiveToInvokingUser(base);
      GiveToInvokingUser(dir);
    }
    if (QFileInfo(dir).isDir()) return dir;
  }
  return portable;
}

QString InvokingUserConfigHome() {
  const passwd* user = InvokingUser();
  if (user == nullptr || user->pw_dir == nullptr || user->pw_dir[0] == '\0') return {};
  return WithSlash(QFile::decodeName(user->pw_dir)) + QStringLiteral(".config");
}

QString ConfigFilePath(const QString& configDir) {
  const QString dir = WithSlash(configDir);
  const QStringList matches = ConfigFilesIn(dir);
  return dir + (matches.isEmpty() ? ConfigName : matches.front());
}

TSettings LoadSettings(const QString& configDir, const QString& versionText,
                       const std::function<QString()>& detectLanguage,
                       const QString& installIdFile) {
  TIniFile ini;
  ini.LoadFromFile(ConfigFilePath(configDir));  // a file that cannot be read holds nothing

  TSettings settings;
  if (ini.ValueExists(General, u"Lang")) {
    settings.Lang = ini.ReadString(General, u"Lang");
  } else if (detectLanguage) {
    settings.Lang = detectLanguage();
  }
  settings.SetupVer = ini.ReadString(General, u"SetupVer");
  settings.Getnews = ini.ReadBool(General, u"Getnews", settings.Getnews);
  settings.CheckNewVer = ini.ReadBool(General, u"CheckNewVer", settings.CheckNewVer);
  settings.MsgID = ini.ReadInteger(General, u"MsgID", settings.MsgID);
  settings.ShowPreview = ini.ReadBool(General, u"ShowPreview", settings.ShowPreview);

  settings.InstallId = GetInstallId(
      installIdFile.isEmpty() ? QString::fromLatin1(MachineInstallIdFile) : installIdFile,
      configDir);
  if (settings.SetupVer != versionText || settings.SetupVer.isEmpty()) {
    settings.SetupVer = versionText;
    settings.SetupVerChanged = true;
  }
  return settings;
}

bool SaveSettings(const QString& configDir, const TSettings& settings) {
  const QString fileName = ConfigFilePath(configDir);
  TIniFile ini;
  // Writing over a file that exists but could not be read would lose what it holds.
  if (!ini.LoadFromFile(fileName) && QFileInfo::exists(fileName)) return false;

  ini.WriteString(General, u"Lang", settings.Lang);
  ini.WriteBool(General, u"Getnews", settings.Getnews);
  ini.WriteInteger(General, u"MsgID", settings.MsgID);
  ini.WriteBool(General, u"CheckNewVer", settings.CheckNewVer);
  ini.WriteBool(General, u"ShowPreview", settings.ShowPreview);
  ini.WriteString(General, u"SetupVer", settings.SetupVer);
  if (!ini.SaveToFile(fileName)) return false;
  GiveToInvokingUser(fileName);
  return true;
}

bool IsValidInstallId(const QString& id) {
  static const QRegularExpression form(QStringLiteral(
      "^\\{[0-9A-Fa-f]{8}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{12}\\}$"));
  return form.match(id).hasMatch() && !QUuid::fromString(id).isNull();
}

QString GetInstallId(const QString& machineFile, const QString& fallbackDir) {
  QString id = ReadInstallId(machineFile);
  if (!id.isEmpty()) return id;

  const QString fresh = QUuid::createUuid().toString(QUuid::WithBraces).toUpper();
  if (WriteInstallId(machineFile, fresh)) return fresh;

  const QString fallbackFile =
      WithSlash(fallbackDir.isEmpty() ? GetConfigDir(AppDir()) : fallbackDir) + FallbackIdName;
  id = ReadInstallId(fallbackFile);
  if (!id.isEmpty()) return id;
  WriteFallbackInstallId(fallbackFile, fresh);
  return fresh;
}

QString FormatVersionText(int major, int minor, int release, int build) {
  return QString::number(major) + u'.' + QString::number(minor) + QString::number(release) +
         u'.' + QString::number(build);
}

QString VersionText() {
  return FormatVersionText(RESTOVO_VERSION_MAJOR, RESTOVO_VERSION_MINOR, RESTOVO_VERSION_PATCH,
                           RESTOVO_VERSION_TWEAK);
}

int BuildNumber() { return RESTOVO_VERSION_TWEAK; }

}  // namespace restovo
