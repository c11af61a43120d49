// The user's settings in Config.ini, the folder they live in, the installation's identity
// and the program's version as it is shown and reported.
#pragma once

#include <QString>

#include <functional>

namespace restovo {

// The folder of Config.ini, with a trailing "/". A file named "config.ini" in any letter
// case beside the program makes it a portable installation: `appDir` is used. Otherwise
// $XDG_CONFIG_HOME/Restovo/ (normally ~/.config/Restovo/), created with its parents when
// missing; `appDir` again when that folder cannot be had.
QString GetConfigDir(const QString& appDir);

// The configuration home of the user who started the program through pkexec: the ~/.config
// of the account PKEXEC_UID names, from the password database (pkexec passes neither HOME
// nor XDG_CONFIG_HOME). Empty when PKEXEC_UID is not set or names no account.
QString InvokingUserConfigHome();

// The settings file in `configDir`: an existing file named "config.ini" in any letter case
// (the exact spelling "Config.ini" preferred when there are several), else
// configDir + "Config.ini".
QString ConfigFilePath(const QString& configDir);

// What [General] of Config.ini holds, and what start-up makes of it.
struct TSettings {
  QString Lang;       // the language file's name without ".ini"; empty: none chosen yet
  bool Getnews = true;
  int MsgID = 0;
  bool CheckNewVer = true;
  bool ShowPreview = true;
  QString SetupVer;   // the version that last ran with these settings
  QString InstallId;  // not stored in Config.ini, see GetInstallId
  bool SetupVerChanged = false;  // this version runs for the first time with these settings
};

// Reads [General] of the settings file in `configDir`; a missing or unreadable file gives
// the defaults. A "Lang" key is taken as it is, even empty; without one `detectLanguage`
// chooses. Numbers and switches that are not numbers read as their defaults. When
// `versionText` is not the stored SetupVer, SetupVer becomes `versionText` and
// SetupVerChanged is set. InstallId comes from GetInstallId(installIdFile, configDir), the
// machine-wide file when `installIdFile` is empty.
TSettings LoadSettings(const QString& configDir, const QString& versionText,
                       const std::function<QString()>& detectLanguage,
                       const QString& installIdFile = {});

// Writes Lang, Getnews, MsgID, CheckNewVer, ShowPreview and SetupVer into [General] of the
// settings file in `configDir`, keeping the file's other sections and keys. False, and
// nothing else, when the file cannot be read or written; an unreadable existing file is
// left alone.
bool SaveSettings(const QString& configDir, const TSettings& settings);

// The machine-wide file of the installation's identity.
inline constexpr char MachineInstallIdFile[] = "/var/lib/restovo/install-id";

// The installation's identity: a GUID as "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" in
// upper-case hex. Read from `machineFile` when it holds one; otherwise a new random one
// is written there (its folder created with parents). When that cannot be written, the
// file "install-id" in `fallbackDir` is read or written the same way (an empty
// `fallbackDir` means GetConfigDir(AppDir())). When nothing can be written the new
// identity still serves this run.
QString GetInstallId(const QString& machineFile = QString::fromLatin1(MachineInstallIdFile),
                     const QString& fallbackDir = {});

// True for the form GetInstallId gives (hex digits in either case, the null GUID excluded).
bool IsValidInstallId(const QString& id);

// "major.minor<release>.build" in decimal: 3, 9, 1, 206 -> "3.91.206".
QString FormatVersionText(int major, int minor, int release, int build);

// The version this program was built as, and its fourth number.
QString VersionText();
int BuildNumber();

}  // namespace restovo
