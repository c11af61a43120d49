// The main window's search box: its category choices, the keyword and category filters
// applied to the current view, and its edit menu.
#include "Umain.h"

#include <QAction>
#include <QLineEdit>
#include <QMenu>
#include <QSignalBlocker>
#include <QTableView>

#include "RestovoStyle.h"
#include "TTarnSearchBox.h"
#include "UmainShared.h"

namespace restovo {

using namespace umain;

void TFrmFRMain::FillCategoryChoices() {
  struct Choice {
    const char* key;
    const char* caption;
    const char16_t* icon;
  };
  static constexpr Choice kChoices[] = {{"Images", "Images", u"type-picture"},
                                        {"Audios", "Audios", u"type-audio"},
                                        {"Videos", "Videos", u"type-video"},
                                        {"Document", "Docments", u"type-document"},
                                        {"Compressed", "Archive", u"type-archive"},
                                        {"Email", "Email", u"type-mail"}};
  const QSignalBlocker block(cmbsearch);
  cmbsearch->ClearChoices();
  for (const Choice& c : kChoices) cmbsearch->AddChoice(RestovoIcon(c.icon), Tr("FileRecovery", c.key, c.caption));
}

int TFrmFRMain::CategoryIndex() const { return cmbsearch->ChosenIndex(); }

void TFrmFRMain::cmbsearchChange(int index) {
  // A category writes its extension mask into the box and filters by it.
  if (index >= 0 && index < catAllFiles) {
    cmbsearch->SetText(QString::fromStdString(Categories[index].Mask));
    cmbsearch->LineEdit()->setCursorPosition(0);  // the mask's start says what it is
  }
  ApplyKeywordFilter();
  LastFilterText = cmbsearch->Text();
}

void TFrmFRMain::cmbsearchTextEdited() {
  // Keys that leave the text as it was (arrows, Home) filter nothing again.
  if (cmbsearch->Text() == LastFilterText) return;
  ApplyKeywordFilter();
  LastFilterText = cmbsearch->Text();
}

void TFrmFRMain::cmbsearchExtraBtnClick() {
  // The box has emptied itself: the whole view again, the focus to the list.
  ApplyKeywordFilter();
  LastFilterText.clear();
  lstFile->setFocus();
}

void TFrmFRMain::ApplyKeywordFilter() {
  FilteredList = CurrentList;
  const std::string keyword = cmbsearch->Text().trimmed().toStdString();
  if (!Filtering && TResultFilter::KeywordNarrows(keyword)) {
    ShowStatus(Tr("FileRecovery", "Filtering", "Filtering.."));
    Filtering = true;
    FilteredList = TResultFilter::ByKeyword(keyword, CurrentList);
    Filtering = false;
  }
  UpdateActionState();
  if (!Filtering) ShowFilteredList();
}

void TFrmFRMain::ApplyCategoryFilter() {
  const int k = CategoryIndex();
  if (!TResultFilter::IsNarrowingCategory(k)) {
    ApplyKeywordFilter();
    return;
  }
  CurrentList = ResultFilter.ByCategory(k, CurrentList);
}

void TFrmFRMain::BuildEditMenu() {
  pmedit->clear();
  QLineEdit* edit = cmbsearch->LineEdit();
  auto add = [&](const char* key, const char* caption, QKeySequence::StandardKey keys, auto action) {
    QAction* a = pmedit->addAction(TranslateText(QStringLiteral("Edit"), QString::fromLatin1(key), QString::fromLatin1(caption)));
    a->setObjectName(QString::fromLatin1(key));
    a->setShortcut(keys);
    connect(a, &QAction::triggered, edit, action);
  };
  add("pmcut", "Cut", QKeySequence::Cut, &QLineEdit::cut);
  add("pmcopy", "Copy", QKeySequence::Copy, &QLineEdit::copy);
  add("pmpaste", "Paste", QKeySequence::Paste, &QLineEdit::paste);
  add("pmdelete", "Delete", QKeySequence::Delete, &QLineEdit::del);
  pmedit->addSeparator();
  add("pmselectall", "Select All", QKeySequence::SelectAll, &QLineEdit::selectAll);
}

}  // namespace restovo
