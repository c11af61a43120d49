// The INI reader and writer of the language files, Config.ini and the other small
// descriptors.
#pragma once

#include <QByteArrayView>
#include <QHash>
#include <QString>
#include <QStringList>
#include <QStringView>

#include <cstddef>
#include <optional>
#include <utility>
#include <vector>

namespace restovo {

// Text of an INI file: UTF-16LE or UTF-16BE when it starts with that byte-order mark,
// otherwise UTF-8 (with or without its mark). Invalid sequences become U+FFFD.
QString DecodeIniBytes(QByteArrayView bytes);

// The rules, shared by every file the program reads:
// - each line is trimmed; empty lines and lines starting with ";" are skipped;
// - "[name]" opens a section, its name trimmed;
// - any other line is split at its first "=" into key and value, both trimmed; a line
//   without "=" holds no key; lines before the first section are ignored;
// - section and key names compare without regard to case, and the first occurrence of
//   a section or a key wins (a repeated section is skipped as a whole);
// - values are literal: no quotes are stripped and nothing is unescaped.
// Sections and keys keep the order and spelling of the file, so that SaveToFile puts them
// back as they were.
class TIniFile {
 public:
  // False, and nothing loaded, when the file cannot be read (for example when it does
  // not exist). An existing empty file is loaded and holds nothing.
  bool LoadFromFile(const QString& fileName);
  void LoadFromBytes(QByteArrayView bytes);
  void LoadFromText(QStringView text);
  void Clear();

  bool IsLoaded() const { return Loaded; }
  const QString& FileName() const { return LoadedFrom; }

  // `def` when the section or the key is missing; an empty value is returned as it is.
  QString ReadString(QStringView section, QStringView key, const QString& def = {}) const;
  bool ValueExists(QStringView section, QStringView key) const;
  bool SectionExists(QStringView section) const;

  QStringList Sections() const;
  QStringList Keys(QStringView section) const;

  // The value as an integer: decimal with an optional sign, or hexadecimal after "0x",
  // "0X" or "$" (also after a sign). `def` when the key is missing, the value is not such
  // a number, or the number does not fit an int ("yes" -> def, "$10" -> 16).
  int ReadInteger(QStringView section, QStringView key, int def) const;
  // The value read as an integer: any number other than 0 is true; `def` when the key is
  // missing or the value is not a number.
  bool ReadBool(QStringView section, QStringView key, bool def) const;

  // Replaces the value of the key's first occurrence (found without regard to case, the
  // key keeping its spelling) or appends the key to the section; a missing section is
  // appended to the file under the given name. Names and value are stored as given.
  void WriteString(QStringView section, QStringView key, const QString& value);
  void WriteInteger(QStringView section, QStringView key, int value);
  void WriteBool(QStringView section, QStringView key, bool value);  // "1" or "0"

  // The text SaveToFile writes: "[Section]" and "key=value" lines in the order and
  // spelling of the sections and keys, sections apart by an empty line. What the reader
  // skipped (comments, repeated keys and sections, lines before the first section) is not
  // part of it.
  QString ToText() const;
  // Writes ToText() as UTF-8 without a byte-order mark, replacing the file only once the
  // whole text is written. False when the file cannot be written.
  bool SaveToFile(const QString& fileName) const;

 private:
  struct TSection {
    QString Name;
    std::vector<std::pair<QString, QString>> Entries;
    QHash<QString, std::size_t> Index;  // folded key -> position in Entries
  };

  const TSection* FindSection(QStringView section) const;
  const std::pair<QString, QString>* FindEntry(QStringView section, QStringView key) const;
  std::optional<int> ReadNumber(QStringView section, QStringView key) const;

  std::vector<TSection> SectionList;
  QHash<QString, std::size_t> SectionIndex;  // folded name -> position in SectionList
  QString LoadedFrom;
  bool Loaded = false;
};

}  // namespace restovo
