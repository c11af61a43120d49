// The INI reader of the language files, Config.ini and the other small descriptors.
#pragma once

#include <QByteArrayView>
#include <QHash>
#include <QString>
#include <QStringList>
#include <QStringView>

#include <cstddef>
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
// Sections and keys keep the order and spelling of the file, so that a writer can later
// put them back as they were.
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

 private:
  struct TSection {
    QString Name;
    std::vector<std::pair<QString, QString>> Entries;
    QHash<QString, std::size_t> Index;  // folded key -> position in Entries
  };

  const TSection* FindSection(QStringView section) const;
  const std::pair<QString, QString>* FindEntry(QStringView section, QStringView key) const;

  std::vector<TSection> SectionList;
  QHash<QString, std::size_t> SectionIndex;  // folded name -> position in SectionList
  QString LoadedFrom;
  bool Loaded = false;
};

}  // namespace restovo
