#include "Translation.h"

#include "AppPaths.h"
#include "IniFile.h"
#include "LangId.h"

#include <QDir>
#include <QFileInfo>
#include <QLocale>

#include <utility>

namespace restovo {

namespace {

const QString TranslationSection = QStringLiteral("Translation");
const QString EnglishFileName = QStringLiteral("English.ini");

struct TLanguageState {
  QString LangFileName;
  TIniFile Current;
  // Loaded on the first miss in the current file, then kept for the whole run.
  TIniFile English;
  QString Lang;
  QStringList Languages;
  std::optional<std::uint16_t> UserLangIdOverride;
  std::function<void()> OnLanguageChanged;
};

TLanguageState& State() {
  static TLanguageState state;
  return state;
}

const TIniFile& CurrentFile() {
  if (!State().Current.IsLoaded()) LoadLanguageFile();
  return State().Current;
}

// The file of language `name`, or empty. The match is exact first and then without
// regard to case, as the file names were compared where the files come from.
QString FindLanguageFile(const QString& name) {
  if (name.isEmpty() || name.contains(QLatin1Char('/'))) return {};
  const QString wanted = name + QStringLiteral(".ini");
  const QString exact = LanguageDir() + wanted;
  if (QFileInfo(exact).isFile()) return exact;
  const QDir dir(LanguageDir());
  const QStringList files = dir.entryList({QStringLiteral("*.ini")},
                                          QDir::Files | QDir::Hidden | QDir::System);
  for (const QString& file : files) {
    if (file.compare(wanted, Qt::CaseInsensitive) == 0) return dir.filePath(file);
  }
  return {};
}

// GDI character sets as the files name them. Qt chooses fonts by writing system, so each
// becomes the script it was made for. A name that is not a GDI character set gives Any:
// a wrong guess (Latin, say) would make Qt prefer a face that lacks the language's
// letters, while Any leaves the choice to fontconfig, which goes by the text itself.
// DEFAULT_CHARSET and OEM_CHARSET depend on the system's code page, so they give Any too.
QFontDatabase::WritingSystem CharsetWritingSystem(const QString& name) {
  struct TCharset {
    const char* Name;
    QFontDatabase::WritingSystem System;
  };
  static constexpr TCharset charsets[] = {
      {"ANSI_CHARSET", QFontDatabase::Latin},
      {"DEFAULT_CHARSET", QFontDatabase::Any},
      {"SYMBOL_CHARSET", QFontDatabase::Symbol},
      {"MAC_CHARSET", QFontDatabase::Latin},
      {"SHIFTJIS_CHARSET", QFontDatabase::Japanese},
      {"HANGEUL_CHARSET", QFontDatabase::Korean},
      {"HANGUL_CHARSET", QFontDatabase::Korean},
      {"JOHAB_CHARSET", QFontDatabase::Korean},
      {"GB2312_CHARSET", QFontDatabase::SimplifiedChinese},
      {"CHINESEBIG5_CHARSET", QFontDatabase::TraditionalChinese},
      {"GREEK_CHARSET", QFontDatabase::Greek},
      {"TURKISH_CHARSET", QFontDatabase::Latin},
      {"VIETNAMESE_CHARSET", QFontDatabase::Vietnamese},
      {"HEBREW_CHARSET", QFontDatabase::Hebrew},
      {"ARABIC_CHARSET", QFontDatabase::Arabic},
      {"BALTIC_CHARSET", QFontDatabase::Latin},
      {"RUSSIAN_CHARSET", QFontDatabase::Cyrillic},
      {"THAI_CHARSET", QFontDatabase::Thai},
      {"EASTEUROPE_CHARSET", QFontDatabase::Latin},
      {"OEM_CHARSET", QFontDatabase::Any},
  };
  for (const auto& [charsetName, system] : charsets) {
    if (name.compare(QLatin1String(charsetName), Qt::CaseInsensitive) == 0) return system;
  }
  return QFontDatabase::Any;
}

}  // namespace

QString LanguageDir() {
  const QString beside = AppDir() + QStringLiteral("Languages/");
  if (QFileInfo(beside).isDir()) return beside;
  const QString installed = QDir::cleanPath(AppDir() + QStringLiteral("../share/restovo/Languages")) + u'/';
  return QFileInfo(installed).isDir() ? installed : beside;
}

void LoadLanguageFile() {
  TLanguageState& s = State();
  s.Current.Clear();
  if (!s.LangFileName.isEmpty()) s.Current.LoadFromFile(s.LangFileName);
}

QString TranslateText(const QString& section, const QString& key, const QString& def) {
  TLanguageState& s = State();
  QString result = CurrentFile().ReadString(section, key);
  if (result.isEmpty() && !s.LangFileName.isEmpty()) {
    if (!s.English.IsLoaded())
      s.English.LoadFromFile(QFileInfo(s.LangFileName).dir().filePath(EnglishFileName));
    result = s.English.ReadString(section, key);
  }
  return result.isEmpty() ? def : result;
}

QFontDatabase::WritingSystem GetLangCharset() {
  const TIniFile& file = CurrentFile();
  if (!file.IsLoaded()) return QFontDatabase::Any;
  const QString name = file.ReadString(TranslationSection, QStringLiteral("DefaultCharSet"));
  return name.isEmpty() ? QFontDatabase::Latin : CharsetWritingSystem(name);
}

QString GetLangFontName() {
  const QString name = CurrentFile().ReadString(TranslationSection, QStringLiteral("DefaultFont"));
  return name.isEmpty() ? QStringLiteral("Tahoma") : name;
}

int GetLangFontSize() {
  bool ok = false;
  const int size = CurrentFile()
                       .ReadString(TranslationSection, QStringLiteral("DefaultFontSize"))
                       .toInt(&ok);
  return ok && size > 0 ? size : 8;
}

QFont LangFont() {
  const QString face = GetLangFontName();
  const QFontDatabase::WritingSystem system = GetLangCharset();
  QStringList families{face};
  const QStringList fitting = QFontDatabase::families(system);
  if (!fitting.contains(face, Qt::CaseInsensitive)) {
    // Prefer the desktop's own face when it can write the language.
    const QString general = QFontDatabase::systemFont(QFontDatabase::GeneralFont).family();
    if (fitting.contains(general, Qt::CaseInsensitive))
      families << general;
    else if (!fitting.isEmpty())
      families << fitting.front();
  }
  QFont font(face);
  font.setFamilies(families);
  font.setPointSize(GetLangFontSize());
  return font;
}

void ListLanguages() {
  TLanguageState& s = State();
  s.Languages.clear();
  // The files' names are the menu's entries. Linux lists a folder in no useful order, so
  // the list is sorted by name without regard to case, which is also the order in
  // which Windows lists them on NTFS and which first-start detection depends on.
  const QFileInfoList files = QDir(LanguageDir())
                                  .entryInfoList({QStringLiteral("*.ini")},
                                                 QDir::Files | QDir::Hidden | QDir::System,
                                                 QDir::Name | QDir::IgnoreCase);
  for (const QFileInfo& file : files) {
    if (const QString name = file.completeBaseName(); !name.isEmpty()) s.Languages << name;
  }
}

const QStringList& Languages() { return State().Languages; }

std::uint16_t UserLangId() {
  const auto& chosen = State().UserLangIdOverride;
  return chosen ? *chosen : LangIdForLocale(QLocale::system().name());
}

void SetUserLangId(std::optional<std::uint16_t> langId) { State().UserLangIdOverride = langId; }

QStringList LangCodePieces(const QString& langCode) {
  return langCode.toUpper().split(QLatin1Char('|'), Qt::SkipEmptyParts);
}

QString DetectLanguage() {
  QString result = QStringLiteral("English");
  const QString wanted = LangIdText(UserLangId());
  for (const QString& name : State().Languages) {
    const QString path = FindLanguageFile(name);
    TIniFile file;
    if (path.isEmpty() || !file.LoadFromFile(path)) continue;
    // The last match wins, so no break.
    if (LangCodePieces(file.ReadString(TranslationSection, QStringLiteral("LangCode")))
            .contains(wanted))
      result = name;
  }
  return result;
}

bool LangCodeMatches(const QString& code) {
  if (code.trimmed().isEmpty()) return false;
  return LangCodePieces(TranslateText(TranslationSection, QStringLiteral("LangCode"), QString()))
      .contains(code.toUpper());
}

TLanguageSwitch SetLanguage(const QString& name) {
  TLanguageState& s = State();
  TLanguageSwitch result = TLanguageSwitch::Chosen;
  if (const QString path = FindLanguageFile(name); !path.isEmpty()) {
    s.LangFileName = path;
    s.Lang = QFileInfo(path).completeBaseName();
  } else {
    s.LangFileName = LanguageDir() + EnglishFileName;
    if (!QFileInfo(s.LangFileName).isFile()) {
      s.Current.Clear();
      return TLanguageSwitch::NoLanguageFile;
    }
    result = TLanguageSwitch::English;
  }
  LoadLanguageFile();
  if (s.OnLanguageChanged) s.OnLanguageChanged();
  return result;
}

void SetOnLanguageChanged(std::function<void()> handler) {
  State().OnLanguageChanged = std::move(handler);
}

QString NoLanguageFileText() {
  return QStringLiteral(
      "Can not load language file, please re-install the program to fix the issue.");
}

const QString& Lang() { return State().Lang; }

void SetLang(const QString& name) { State().Lang = name; }

const QString& LangFileName() { return State().LangFileName; }

QString ControlKey(const QString& window, const QString& control, const QString& property) {
  return window + QLatin1Char('.') + control + QLatin1Char('.') + property;
}

QString HeaderItemKey(const QString& window, const QString& list, int index) {
  return QStringLiteral("%1.%2.headitems[%3]").arg(window, list).arg(index);
}

QString MsgKindCaption(TMsgKind kind) {
  QString name;
  switch (kind) {
    case mkWarning: name = QStringLiteral("Warning"); break;
    case mkError: name = QStringLiteral("Error"); break;
    case mkInformation: name = QStringLiteral("Information"); break;
    case mkConfirm: name = QStringLiteral("Confirm"); break;
  }
  return TranslateText(TranslationSection, name, name);
}

void ResetLanguageState() { State() = TLanguageState{}; }

}  // namespace restovo
