// The language of the user interface: which language file is in use, and the lookup of
// every text the user sees. Main thread only.
#pragma once

#include "TMsgKind.h"

#include <QFont>
#include <QFontDatabase>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <optional>

namespace restovo {

// "Languages/" below AppDir(), with a trailing "/". An installation into a prefix keeps
// them in <prefix>/share/restovo/Languages/ instead, found from AppDir() = <prefix>/bin/
// when there is no folder beside the program.
QString LanguageDir();

// The text of Key in Section: from the current language file, else from English.ini,
// else `def`. An empty value counts as missing. While the current file cannot be read it
// is tried again at every call.
QString TranslateText(const QString& section, const QString& key, const QString& def);

// Drops the current file held in memory and reads the file at LangFileName() again.
void LoadLanguageFile();

// The current file's font properties, read from that file alone (never from English).
// The writing system stands for the file's GDI "DefaultCharSet"; see the .cpp for the
// mapping. Missing keys give Latin, "Tahoma" and 8.
QFontDatabase::WritingSystem GetLangCharset();
QString GetLangFontName();
int GetLangFontSize();

// The window font of the current language: its face and size, with a face that can write
// the language's script after it when the named face cannot (or is not installed).
QFont LangFont();

// Fills Languages() with the names of the files in LanguageDir(), without ".ini".
void ListLanguages();
const QStringList& Languages();

// The language for a first start: the last entry of Languages() whose "LangCode" holds
// the user's language identifier, else "English".
QString DetectLanguage();

// The user's language identifier: from the system locale unless a test set one.
std::uint16_t UserLangId();
void SetUserLangId(std::optional<std::uint16_t> langId);

// The pieces of a "LangCode" value, upper-cased, without empty ones.
QStringList LangCodePieces(const QString& langCode);

// True when Code is one of the current language's "LangCode" identifiers (compared
// without regard to case). A blank Code matches nothing.
bool LangCodeMatches(const QString& code);

enum class TLanguageSwitch {
  Chosen,          // the named file is in use
  English,         // the named file is missing: English.ini is in use, Lang() unchanged
  NoLanguageFile,  // neither exists; the caller shows NoLanguageFileText() and ends with 0
};

// Switches to the language file `name` + ".ini" in LanguageDir(), reloads it, and then
// lets the window rebuild its texts through the handler set with SetOnLanguageChanged
// (not called when no file could be found).
TLanguageSwitch SetLanguage(const QString& name);
void SetOnLanguageChanged(std::function<void()> handler);

// The untranslated text shown when no language file can be loaded at all.
QString NoLanguageFileText();
constexpr int NoLanguageFileExitCode = 0;

// The chosen language's name (the setting "Lang") and the file in use.
const QString& Lang();
void SetLang(const QString& name);
const QString& LangFileName();

// Keys of window controls: "FrmFRMain.btnrestore.caption" in [Translation], and
// "FrmFRMain.lstFile.headitems[0]" in [FileRecovery].
QString ControlKey(const QString& window, const QString& control, const QString& property);
QString HeaderItemKey(const QString& window, const QString& list, int index);

// Kinds of message boxes; each one's caption is the translated kind name.
QString MsgKindCaption(TMsgKind kind);

// Forgets every file held in memory, the chosen language, the list, the user's
// language override and the handler: a fresh process, for tests.
void ResetLanguageState();

}  // namespace restovo
