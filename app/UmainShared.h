// What the main window's source files share: its translated texts and how a tree node
// carries its record. Private to the window.
#pragma once

#include <QModelIndex>
#include <QString>
#include <QVariant>

#include "Translation.h"
#include "records/TypesDefine.h"

namespace restovo::umain {

inline const QString kMain = QStringLiteral("FrmFRMain");

inline QString Tr(const char* section, const char* key, const char* def) {
  return TranslateText(QString::fromLatin1(section), QString::fromLatin1(key), QString::fromUtf8(def));
}

inline QString ControlText(const QString& control, const char* property, const QString& current) {
  return TranslateText(QStringLiteral("Translation"), ControlKey(kMain, control, QString::fromLatin1(property)),
                       current);
}

// The role under which a folder-tree node holds its record.
inline constexpr int kRecordRole = Qt::UserRole + 1;

inline TFileInfo* RecordOf(const QModelIndex& index) {
  return static_cast<TFileInfo*>(index.data(kRecordRole).value<void*>());
}

}  // namespace restovo::umain
