// The advertising panel of the main window: fetches the vendor's list of advertisements,
// keeps their pictures in a local folder, shows one at a time and changes over to the next
// after each one's lifetime, the new picture uncovering the old one from the right.
// Clicking the panel opens the advertisement's page.
#pragma once

#include <QPixmap>
#include <QString>
#include <QThread>
#include <QTimer>
#include <QUrl>
#include <QWidget>

#include <functional>
#include <memory>
#include <vector>

#include "WebServices.h"

namespace restovo {

// The list of advertisements on the information service; empty when that service is off.
QUrl AdListUrl(const TServiceHosts& hosts);

struct TTarnDirectAd {
  int Index = 0;  // position in the panel's list
  QString Title;
  QString Tip;
  QString Link;
  QString Img;        // address of the picture
  QString LocalFile;  // where the picture is kept; empty when the address names no file
  QPixmap Picture;    // null until loaded, and for good when it could not be had
  bool PictureSettled = false;  // loaded, or given up
};

// Fetches the list text on a worker of its own, which deletes itself when done.
class TAdListFetch final : public QThread {
  Q_OBJECT

 public:
  explicit TAdListFetch(const QUrl& address, QObject* parent = nullptr);

 signals:
  void Done(const QString& reply);

 protected:
  void run() override;

 private:
  QUrl Address;
};

// Downloads one picture into its local file (whole or not at all) on a worker of its own,
// which deletes itself when done.
class TAdPictureFetch final : public QThread {
  Q_OBJECT

 public:
  TAdPictureFetch(const QUrl& address, const QString& localFile, QObject* parent = nullptr);

 signals:
  void Done(bool saved);

 protected:
  void run() override;

 private:
  QUrl Address;
  QString LocalFile;
};

class TTarnDirectAdShower final : public QWidget {
  Q_OBJECT
  Q_PROPERTY(QUrl CheckUrl READ checkUrl WRITE setCheckUrl)
  Q_PROPERTY(QString SavePath READ savePath WRITE setSavePath)
  Q_PROPERTY(int lifetime READ lifetime WRITE setLifetime)
  Q_PROPERTY(int AniInterval READ aniInterval WRITE setAniInterval)

 public:
  static constexpr int kRotationIntervalMs = 1000;
  static constexpr int kAnimationSteps = 9;

  explicit TTarnDirectAdShower(QWidget* parent = nullptr);
  ~TTarnDirectAdShower() override;

  QUrl checkUrl() const { return FCheckUrl; }
  void setCheckUrl(const QUrl& url) { FCheckUrl = url; }
  QString savePath() const { return FSavePath; }
  // Pictures are kept in its folder UpdateInfo/; a trailing "/" is added. Without a
  // folder no picture is fetched.
  void setSavePath(const QString& folder);
  int lifetime() const { return FLifetime; }
  void setLifetime(int seconds) { FLifetime = seconds; }
  int aniInterval() const { return FAniInterval; }
  void setAniInterval(int ms);

  // The clock of rotation and animation, in milliseconds; tests drive their own.
  std::function<qint64()> Now;
  // Opens an advertisement's page; the desktop's browser unless replaced.
  std::function<void(const QUrl&)> OpenUrl;

  // Asks for the list on a worker at idle priority; nothing when CheckUrl is empty. The
  // answer is handled on the main thread; a panel destroyed before drops it. Returns the
  // worker (it deletes itself) or nullptr.
  QThread* Fetch();
  // Takes the list text as the service answers it.
  void ProcessList(const QString& reply);

  const TTarnDirectAd* CurAd() const { return FCurAd; }
  int AdCount() const { return static_cast<int>(FAds.size()); }
  const TTarnDirectAd* Ad(int index) const;
  // What the panel shows, before it is fitted to the panel: the current picture, or the
  // frame of a change-over.
  QPixmap ShownPicture() const { return FShown; }
  bool IsRotating() const { return FRotation.isActive(); }
  bool IsAnimating() const { return FAnimation.isActive(); }
  int AnimationStep() const { return FStep; }
  // Where the picture is drawn in the panel.
  QRect PictureRect() const;

  // Once a second: moves on when the current advertisement has had its time.
  void RotationTick();
  // One step of the change-over.
  void AnimationTick();

  // The file name a picture is kept under: the last part of its address, empty when that
  // is no plain file name.
  static QString LocalPictureName(const QString& img);

 signals:
  // An advertisement became current; the size of its picture (0 × 0 without one).
  void ImgDone(int width, int height);
  // The list was taken, whatever it held.
  void ListProcessed();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  void TakeList(const QString& reply);
  void LoadPicture(TTarnDirectAd& ad);
  void PictureFetched(int index, bool saved);
  void PictureReady(TTarnDirectAd& ad);
  void MakeCurrent(TTarnDirectAd* ad);

  QUrl FCheckUrl;
  QString FSavePath;
  int FLifetime = 5;
  int FAniInterval = 50;

  std::vector<std::unique_ptr<TTarnDirectAd>> FAds;
  TTarnDirectAd* FCurAd = nullptr;
  bool FShownOnce = false;
  QPixmap FShown;
  QPixmap FOld;
  qint64 FLastChange = 0;
  int FStep = 0;
  QTimer FRotation;
  QTimer FAnimation;
};

}  // namespace restovo
