// What the window's test programs share: fixture paths, a window without the machine's
// drives, waiting with the event loop running, and a volume whose scan runs for seconds.
#pragma once

#include <QApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QString>
#include <QTest>
#include <QTimer>
#include <functional>

#include "TTarnMessageBox.h"
#include "Umain.h"

namespace restovo::test {

inline QString Fixture(const char* name) {
  return qEnvironmentVariable("RESTOVO_FIXTURES") + QLatin1Char('/') + QLatin1String(name);
}

// Only the images a test opens: no block devices of this machine, no udev, no file
// manager or browser opening, no settings file.
inline TMainWindowOptions TestOptions() {
  TMainWindowOptions o;
  o.ListMachineDrives = false;
  o.WatchDevices = false;
  o.OpenFileManager = false;
  // No Config.ini of the user is read or written; the tests choose the language, and the
  // preview starts hidden.
  o.SettingsFile = false;
  o.Defaults.ShowPreview = false;
  // Nothing is fetched from the online services at the first showing.
  o.Defaults.CheckNewVer = false;
  o.Defaults.Getnews = false;
  o.OnlineServices = false;
  o.Hosts = TServiceHosts{};  // and no host to contact
  return o;
}

// Runs the event loop until done() or ms have passed; returns done().
inline bool WaitFor(const std::function<bool()>& done, int ms = 20000) {
  QElapsedTimer t;
  t.start();
  while (!done() && t.elapsed() < ms) QTest::qWait(10);
  return done();
}

// Runs a tool (mtools, mkfs.fat) to its end; true when it succeeded.
inline bool RunTool(const QString& program, const QStringList& args) {
  QProcess p;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert(QStringLiteral("MTOOLS_SKIP_CHECK"), QStringLiteral("1"));
  env.insert(QStringLiteral("MTOOLSRC"), QStringLiteral("/dev/null"));
  p.setProcessEnvironment(env);
  p.start(program, args);
  return p.waitForFinished(60000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

// A FAT32 image whose scan takes seconds (tests/cli/make-slow-fat32.py); true when made.
inline bool MakeSlowImage(const QString& path) {
  return QProcess::execute(QStringLiteral("/usr/bin/python3"), {qEnvironmentVariable("RESTOVO_SLOW_FAT32"), path}) ==
         0;
}

// Answers every message box with its default button and records what the last one said.
struct TBoxWatcher {
  QString Caption;
  QString Text;
  QString Details;
  TMsgKind Kind = mkInformation;
  int Seen = 0;
  // How a Yes/No box is answered (an OK box is always closed with OK).
  int Answer = mrNo;
  QTimer Timer;
  TBoxWatcher() {
    Timer.setInterval(20);
    QObject::connect(&Timer, &QTimer::timeout, [this] {
      for (QWidget* w : QApplication::topLevelWidgets()) {
        auto* box = qobject_cast<TTarnMessageBox*>(w);
        if (!box || !box->isVisible()) continue;
        Caption = box->Caption();
        Text = box->Text();
        Details = box->Details();
        Kind = box->Kind();
        ++Seen;
        if (Answer == mrYes && box->findChild<QWidget*>(QStringLiteral("btnYes"))) box->done(mrYes);
        else box->reject();
      }
    });
    Timer.start();
  }
};

// The first node of a tree model, depth first, with this caption.
inline QModelIndex FindNode(const QAbstractItemModel* model, const QString& caption, const QModelIndex& parent = {}) {
  for (int r = 0; r < model->rowCount(parent); ++r) {
    const QModelIndex i = model->index(r, 0, parent);
    if (i.data().toString() == caption) return i;
    if (const QModelIndex below = FindNode(model, caption, i); below.isValid()) return below;
  }
  return {};
}

}  // namespace restovo::test
