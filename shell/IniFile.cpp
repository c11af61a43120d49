#include "IniFile.h"

#include <QFile>
#include <QSaveFile>
#include <QStringDecoder>

#include <limits>

namespace restovo {

namespace {

QString Folded(QStringView name) { return name.toString().toCaseFolded(); }

bool StartsWith(QByteArrayView bytes, std::initializer_list<unsigned char> mark) {
  if (bytes.size() < static_cast<qsizetype>(mark.size())) return false;
  qsizetype i = 0;
  for (unsigned char b : mark) {
    if (static_cast<unsigned char>(bytes[i++]) != b) return false;
  }
  return true;
}

// Decimal with an optional sign, or hexadecimal after "0x", "0X" or "$"; nothing else,
// not even spaces. Nothing when the number does not fit an int.
std::optional<int> ParseInteger(QStringView text) {
  bool negative = false;
  if (!text.isEmpty() && (text.front() == u'-' || text.front() == u'+')) {
    negative = text.front() == u'-';
    text = text.sliced(1);
  }
  int base = 10;
  if (text.startsWith(u'$')) {
    base = 16;
    text = text.sliced(1);
  } else if (text.startsWith(u"0x", Qt::CaseInsensitive)) {
    base = 16;
    text = text.sliced(2);
  }
  if (text.isEmpty()) return std::nullopt;

  constexpr qint64 Limit = qint64{std::numeric_limits<int>::max()} + 1;
  qint64 value = 0;
  for (const QChar c : text) {
    const char16_t u = c.unicode();
    int digit = 0;
    if (u >= u'0' && u <= u'9') {
      digit = u - u'0';
    } else if (base == 16 && u >= u'a' && u <= u'f') {
      digit = u - u'a' + 10;
    } else if (base == 16 && u >= u'A' && u <= u'F') {
      digit = u - u'A' + 10;
    } else {
      return std::nullopt;
    }
    value = value * base + digit;
    if (value > Limit) return std::nullopt;
  }
  if (negative) value = -value;
  if (value > std::numeric_limits<int>::max()) return std::nullopt;
  return static_cast<int>(value);
}

}  // namespace

QString DecodeIniBytes(QByteArrayView bytes) {
  auto encoding = QStringConverter::Utf8;
  qsizetype skip = 0;
  if (StartsWith(bytes, {0xFF, 0xFE})) {
    encoding = QStringConverter::Utf16LE;
    skip = 2;
  } else if (StartsWith(bytes, {0xFE, 0xFF})) {
    encoding = QStringConverter::Utf16BE;
    skip = 2;
  } else if (StartsWith(bytes, {0xEF, 0xBB, 0xBF})) {
    skip = 3;
  }
  QStringDecoder decoder(encoding, QStringConverter::Flag::Stateless);
  return decoder.decode(bytes.sliced(skip));
}

bool TIniFile::LoadFromFile(const QString& fileName) {
  Clear();
  QFile file(fileName);
  if (!file.open(QIODevice::ReadOnly)) return false;
  LoadFromBytes(file.readAll());
  LoadedFrom = fileName;
  return true;
}

void TIniFile::LoadFromBytes(QByteArrayView bytes) { LoadFromText(DecodeIniBytes(bytes)); }

void TIniFile::LoadFromText(QStringView text) {
  Clear();
  Loaded = true;
  // Null while outside any section or inside a repeated one: such lines are ignored.
  TSection* current = nullptr;
  qsizetype start = 0;
  while (start <= text.size()) {
    qsizetype end = start;
    while (end < text.size() && text[end] != QLatin1Char('\n') && text[end] != QLatin1Char('\r'))
      ++end;
    const QStringView line = text.sliced(start, end - start).trimmed();
    start = end + 1;
    if (end + 1 < text.size() && text[end] == QLatin1Char('\r') && text[end + 1] == QLatin1Char('\n'))
      ++start;

    if (line.isEmpty() || line.front() == QLatin1Char(';')) continue;
    if (line.front() == QLatin1Char('[') && line.back() == QLatin1Char(']')) {
      const QStringView name = line.sliced(1, line.size() - 2).trimmed();
      const QString folded = Folded(name);
      if (SectionIndex.contains(folded)) {
        current = nullptr;
      } else {
        SectionIndex.insert(folded, SectionList.size());
        SectionList.push_back(TSection{name.toString(), {}, {}});
        current = &SectionList.back();
      }
      continue;
    }
    if (current == nullptr) continue;
    const qsizetype eq = line.indexOf(QLatin1Char('='));
    if (eq < 0) continue;
    const QStringView key = line.first(eq).trimmed();
    const QString folded = Folded(key);
    if (current->Index.contains(folded)) continue;
    current->Index.insert(folded, current->Entries.size());
    current->Entries.emplace_back(key.toString(), line.sliced(eq + 1).trimmed().toString());
  }
}

void TIniFile::Clear() {
  SectionList.clear();
  SectionIndex.clear();
  LoadedFrom.clear();
  Loaded = false;
}

const TIniFile::TSection* TIniFile::FindSection(QStringView section) const {
  const auto it = SectionIndex.constFind(Folded(section));
  return it == SectionIndex.cend() ? nullptr : &SectionList[*it];
}

const std::pair<QString, QString>* TIniFile::FindEntry(QStringView section,
                                                       QStringView key) const {
  const TSection* s = FindSection(section);
  if (s == nullptr) return nullptr;
  const auto it = s->Index.constFind(Folded(key));
  return it == s->Index.cend() ? nullptr : &s->Entries[*it];
}

QString TIniFile::ReadString(QStringView section, QStringView key, const QString& def) const {
  const auto* entry = FindEntry(section, key);
  return entry == nullptr ? def : entry->second;
}

bool TIniFile::ValueExists(QStringView section, QStringView key) const {
  return FindEntry(section, key) != nullptr;
}

bool TIniFile::SectionExists(QStringView section) const { return FindSection(section) != nullptr; }

QStringList TIniFile::Sections() const {
  QStringList names;
  for (const TSection& s : SectionList) names << s.Name;
  return names;
}

QStringList TIniFile::Keys(QStringView section) const {
  QStringList keys;
  if (const TSection* s = FindSection(section)) {
    for (const auto& [key, value] : s->Entries) keys << key;
  }
  return keys;
}

std::optional<int> TIniFile::ReadNumber(QStringView section, QStringView key) const {
  const auto* entry = FindEntry(section, key);
  return entry == nullptr ? std::nullopt : ParseInteger(entry->second);
}

int TIniFile::ReadInteger(QStringView section, QStringView key, int def) const {
  return ReadNumber(section, key).value_or(def);
}

bool TIniFile::ReadBool(QStringView section, QStringView key, bool def) const {
  const std::optional<int> number = ReadNumber(section, key);
  return number ? *number != 0 : def;
}

void TIniFile::WriteString(QStringView section, QStringView key, const QString& value) {
  const QString sectionFolded = Folded(section);
  auto found = SectionIndex.constFind(sectionFolded);
  if (found == SectionIndex.cend()) {
    found = SectionIndex.insert(sectionFolded, SectionList.size());
    SectionList.push_back(TSection{section.toString(), {}, {}});
  }
  TSection& s = SectionList[*found];
  const QString keyFolded = Folded(key);
  const auto entry = s.Index.constFind(keyFolded);
  if (entry != s.Index.cend()) {
    s.Entries[*entry].second = value;
  } else {
    s.Index.insert(keyFolded, s.Entries.size());
    s.Entries.emplace_back(key.toString(), value);
  }
}

void TIniFile::WriteInteger(QStringView section, QStringView key, int value) {
  WriteString(section, key, QString::number(value));
}

void TIniFile::WriteBool(QStringView section, QStringView key, bool value) {
  WriteString(section, key, value ? QStringLiteral("1") : QStringLiteral("0"));
}

QString TIniFile::ToText() const {
  QString text;
  for (const TSection& s : SectionList) {
    if (!text.isEmpty()) text += QLatin1Char('\n');
    text += QLatin1Char('[') + s.Name + QLatin1String("]\n");
    for (const auto& [key, value] : s.Entries)
      text += key + QLatin1Char('=') + value + QLatin1Char('\n');
  }
  return text;
}

bool TIniFile::SaveToFile(const QString& fileName) const {
  QSaveFile file(fileName);
  if (!file.open(QIODevice::WriteOnly)) return false;
  const QByteArray bytes = ToText().toUtf8();
  if (file.write(bytes) != bytes.size()) {
    file.cancelWriting();
    return false;
  }
  return file.commit();
}

}  // namespace restovo
