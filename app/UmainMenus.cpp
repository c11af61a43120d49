// The main window's menus (the file list's and the system menu with its languages), the
// links they open, and the share buttons that follow the language.
#include "Umain.h"

#include <QAction>
#include <QActionGroup>
#include <QMenu>
#include <QTableView>
#include <QToolButton>
#include <QUrl>

#include "RestovoStyle.h"
#include "Services.h"
#include "Translation.h"
#include "UAbout.h"
#include "UmainShared.h"

namespace restovo {

using namespace umain;

void TFrmFRMain::BuildMenus() {
  ++MenuBuilds;
  // The file list's menu.
  pmfile->clear();
  pmrestore = pmfile->addAction(RestovoIcon(u"restore"), QStringLiteral("Recovery the selected items."), this,
                                &TFrmFRMain::RestoreSelected);
  pmrestore->setObjectName(QStringLiteral("pmrestore"));
  pmfile->addSeparator()->setObjectName(QStringLiteral("N1"));
  QAction* selectAll = pmfile->addAction(QStringLiteral("Select All items."), this, &TFrmFRMain::CheckAll);
  selectAll->setObjectName(QStringLiteral("pmSelectAll"));
  selectAll->setShortcut(QKeySequence::SelectAll);
  selectAll->setShortcutContext(Qt::WidgetShortcut);
  lstFile->addAction(selectAll);
  pmfile->addAction(QStringLiteral("Select None."), this, &TFrmFRMain::CheckNone)
      ->setObjectName(QStringLiteral("pmSelectNone"));
  pmfile->addAction(QStringLiteral("Invert Selection."), this, &TFrmFRMain::InvertChecks)
      ->setObjectName(QStringLiteral("pmSelectInvert"));

  // The system menu behind the title bar's menu button.
  pmSystem->clear();
  auto link = [this](const char* name, const char* caption, const QString& address, bool mail = false) {
    QAction* a = pmSystem->addAction(QString::fromUtf8(caption));
    a->setObjectName(QString::fromLatin1(name));
    const QString target = address.trimmed().isEmpty() ? QString() : (mail ? QStringLiteral("mailto:") : QString()) + address.trimmed();
    // An address the installation left empty disables its entry instead of opening nothing.
    a->setEnabled(!target.isEmpty());
    connect(a, &QAction::triggered, this, [this, target] { OpenLink(target); });
    return a;
  };
  actOpenImage = pmSystem->addAction(RestovoIcon(u"open-image"), QStringLiteral("Open disk image…"));
  actOpenImage->setObjectName(QStringLiteral("pmOpenImage"));
  actOpenImage->setShortcut(QKeySequence::Open);
  addAction(actOpenImage);
  connect(actOpenImage, &QAction::triggered, this, &TFrmFRMain::OpenImageDialog);
  pmSystem->addSeparator();
  QAction* help = link("pmHelp", "Help Online", Vendor.HelpUrl);
  help->setShortcut(QKeySequence(Qt::Key_F1));
  // F1 opens the help wherever the focus is, in this window or any dialog over it.
  help->setShortcutContext(Qt::ApplicationShortcut);
  addAction(help);
  link("pmforum", "Forum", Vendor.ForumUrl);
  link("pmHome", "Home Page", Vendor.HomeUrl);
  link("pmContact", "Contact us", Vendor.SupportEmail, true);
  pmSystem->addSeparator()->setObjectName(QStringLiteral("N1"));
  QAction* checkNew = pmSystem->addAction(QStringLiteral("Checks for new version"));
  checkNew->setObjectName(QStringLiteral("pmCheckNew"));
  checkNew->setCheckable(true);
  checkNew->setChecked(Settings.CheckNewVer);
  connect(checkNew, &QAction::toggled, this, [this](bool on) {
    Settings.CheckNewVer = on;
    if (on) CheckForUpdate(true);
  });
  QAction* checkMsg = pmSystem->addAction(QStringLiteral("Auto Check News"));
  checkMsg->setObjectName(QStringLiteral("pmCheckMsg"));
  checkMsg->setCheckable(true);
  checkMsg->setChecked(Settings.Getnews);
  connect(checkMsg, &QAction::toggled, this, [this](bool on) { Settings.Getnews = on; });
  pmSystem->addSeparator()->setObjectName(QStringLiteral("N2"));
  pmLang = pmSystem->addMenu(QStringLiteral("Languages"));
  pmLang->setObjectName(QStringLiteral("pmLang"));
  auto* group = new QActionGroup(pmLang);
  group->setExclusive(true);
  for (const QString& name : Languages()) {
    QAction* entry = pmLang->addAction(name);
    entry->setCheckable(true);
    entry->setChecked(name == Lang());
    group->addAction(entry);
    connect(entry, &QAction::triggered, this, [this, name] {
      if (name == Lang()) return;
      Settings.Lang = name;
      SetLanguage(name);
    });
  }
  pmLang->addSeparator();
  QAction* translate = pmLang->addAction(Tr("Message", "TranslateTo", "Translate to.."));
  translate->setObjectName(QStringLiteral("pmTranslateTo"));
  translate->setEnabled(!Vendor.TranslateUrl.trimmed().isEmpty());
  connect(translate, &QAction::triggered, this, [this] { OpenLink(Vendor.TranslateUrl); });
  QAction* about = pmSystem->addAction(QStringLiteral("About.."));
  about->setObjectName(QStringLiteral("pmAbout"));
  connect(about, &QAction::triggered, this, [this] { TFrmFRAbout::Execute(this, Vendor); });
}

bool TFrmFRMain::OpenLink(const QString& address) {
  const QString target = address.trimmed();
  if (target.isEmpty()) return false;
  LastOpenedLink = target;
  if (!Options.OpenFileManager) return true;
  // A link the desktop cannot open fails quietly.
  restovo::OpenLink(target);
  return true;
}

bool TFrmFRMain::ChineseShare() {
  return TranslateText(QStringLiteral("Translation"), QStringLiteral("LangCode"), QString()) ==
         QStringLiteral("0804|1004");
}

QUrl TFrmFRMain::ShareTarget(int button) const {
  const bool chinese = ChineseShare();
  switch (button) {
    case 0: return chinese ? TiebaShareUrl(Vendor) : ShareEmailUrl(Vendor);
    case 1: return chinese ? QzoneShareUrl(Vendor) : FacebookShareUrl(Vendor);
    case 2: return chinese ? WeiboShareUrl(Vendor) : TwitterShareUrl(Vendor);
    default: return {};
  }
}

void TFrmFRMain::ApplyShareButtons() {
  const bool chinese = ChineseShare();
  static constexpr const char16_t* kIcons[2][3] = {{u"share-email", u"share-facebook", u"share-twitter"},
                                                    {u"share-tieba", u"share-qzone", u"share-weibo"}};
  QToolButton* const buttons[3] = {btnemail, btnfacebook, btntwitter};
  static constexpr const char* kNames[3] = {"btnemail", "btnfacebook", "btntwitter"};
  static constexpr const char* kHints[3] = {"Tell your friends", "Follow us on facebook", "Share on twitter"};
  for (int i = 0; i < 3; ++i) {
    buttons[i]->setIcon(RestovoIcon(kIcons[chinese ? 1 : 0][i]));
    buttons[i]->setToolTip(ControlText(QString::fromLatin1(kNames[i]), "hint", QString::fromLatin1(kHints[i])));
    buttons[i]->setEnabled(!ShareTarget(i).isEmpty());
  }
}

}  // namespace restovo
