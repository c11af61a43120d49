#include "UAd.h"

#include <QDate>
#include <QDateTime>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMouseEvent>
#include <QPainter>
#include <QSaveFile>

#include <optional>

namespace restovo {

namespace {

const QString kNoDate = QStringLiteral("0000-00-00");
const QString kDateFormat = QStringLiteral("yyyy-MM-dd");

// A date of the list: nullopt when there is none, an invalid date when it cannot be read.
std::optional<QDate> ListDate(const QJsonValue& value) {
  if (value.isUndefined() || value.isNull()) return std::nullopt;
  if (!value.isString()) return QDate();
  const QString text = value.toString();
  if (text.isEmpty() || text == kNoDate) return std::nullopt;
  return QDate::fromString(text, kDateFormat);
}

}  // namespace

QUrl AdListUrl(const TServiceHosts& hosts) {
  return ServiceUrl(hosts.InfoService, QStringLiteral("/info_group/index.php?to=getinfonew&pid=4"));
}

TAdListFetch::TAdListFetch(const QUrl& address, QObject* parent) : QThread(parent), Address(address) {
  connect(this, &QThread::finished, this, &QObject::deleteLater);
}

void TAdListFetch::run() { emit Done(HttpGetText(Address)); }

TAdPictureFetch::TAdPictureFetch(const QUrl& address, const QString& localFile, QObject* parent)
    : QThread(parent), Address(address), LocalFile(localFile) {
  connect(this, &QThread::finished, this, &QObject::deleteLater);
}

void TAdPictureFetch::run() {
  bool saved = false;
  const QByteArray body = HttpGetBytes(Address, saved);
  if (saved) {
    // Never a half picture under the name a later start would trust.
    QSaveFile out(LocalFile);
    saved = out.open(QIODevice::WriteOnly) && out.write(body) == body.size() && out.commit();
  }
  emit Done(saved);
}

TTarnDirectAdShower::TTarnDirectAdShower(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("sw1"));
  setCursor(Qt::PointingHandCursor);
  Now = [] { return QDateTime::currentMSecsSinceEpoch(); };
  OpenUrl = [](const QUrl& url) { QDesktopServices::openUrl(url); };
  FRotation.setInterval(kRotationIntervalMs);
  FAnimation.setInterval(FAniInterval);
  connect(&FRotation, &QTimer::timeout, this, &TTarnDirectAdShower::RotationTick);
  connect(&FAnimation, &QTimer::timeout, this, &TTarnDirectAdShower::AnimationTick);
}

TTarnDirectAdShower::~TTarnDirectAdShower() = default;

void TTarnDirectAdShower::setSavePath(const QString& folder) {
  FSavePath = folder;
  if (!FSavePath.isEmpty() && !FSavePath.endsWith(QLatin1Char('/'))) FSavePath += QLatin1Char('/');
}

void TTarnDirectAdShower::setAniInterval(int ms) {
  FAniInterval = ms;
  FAnimation.setInterval(ms);
}

const TTarnDirectAd* TTarnDirectAdShower::Ad(int index) const {
  return index >= 0 && index < AdCount() ? FAds[static_cast<size_t>(index)].get() : nullptr;
}

QThread* TTarnDirectAdShower::Fetch() {
  if (FCheckUrl.isEmpty()) return nullptr;
  auto* worker = new TAdListFetch(FCheckUrl);
  connect(worker, &TAdListFetch::Done, this, &TTarnDirectAdShower::ProcessList, Qt::QueuedConnection);
  worker->start(QThread::IdlePriority);
  return worker;
}

QString TTarnDirectAdShower::LocalPictureName(const QString& img) {
  const QString name = img.mid(qMax(img.lastIndexOf(QLatin1Char('/')), img.lastIndexOf(QLatin1Char('\\'))) + 1);
  if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String("..") || name.contains(QChar(0)))
    return {};
  return name;
}

void TTarnDirectAdShower::ProcessList(const QString& reply) {
  TakeList(reply);
  emit ListProcessed();
}

void TTarnDirectAdShower::TakeList(const QString& reply) {
  // Whatever cannot be read ends the list there; what was taken before stays.
  if (reply.isEmpty() || reply == QLatin1String("[]")) return;
  const QJsonDocument doc = QJsonDocument::fromJson(reply.toUtf8());
  if (!doc.isObject()) return;
  const QJsonObject list = doc.object();
  const QDate serverDate = QDate::fromString(list.value(QStringLiteral("servertime")).toString().left(10), kDateFormat);
  if (!serverDate.isValid()) return;
  const QJsonValue ads = list.value(QStringLiteral("ads"));
  if (!ads.isArray()) return;
  for (const QJsonValue& item : ads.toArray()) {
    if (!item.isObject()) return;
    const QJsonObject element = item.toObject();
    const std::optional<QDate> start = ListDate(element.value(QStringLiteral("startdate")));
    if (start && !start->isValid()) return;
    if (start && *start > serverDate) continue;
    const std::optional<QDate> expire = ListDate(element.value(QStringLiteral("expire")));
    if (expire && !expire->isValid()) return;
    if (expire && serverDate > *expire) continue;

    auto ad = std::make_unique<TTarnDirectAd>();
    ad->Index = AdCount();
    ad->Title = element.value(QStringLiteral("title")).toString();
    ad->Tip = element.value(QStringLiteral("tip")).toString();
    ad->Link = element.value(QStringLiteral("link")).toString();
    ad->Img = element.value(QStringLiteral("img")).toString();
    const QString name = LocalPictureName(ad->Img);
    if (!FSavePath.isEmpty() && !name.isEmpty()) ad->LocalFile = FSavePath + QStringLiteral("UpdateInfo/") + name;
    TTarnDirectAd& added = *FAds.emplace_back(std::move(ad));
    LoadPicture(added);
    const QJsonValue life = element.value(QStringLiteral("lifetime"));
    if (life.isDouble()) FLifetime = life.toInt(FLifetime);
    else if (life.isString()) FLifetime = life.toString().toInt();
  }
}

void TTarnDirectAdShower::LoadPicture(TTarnDirectAd& ad) {
  if (ad.LocalFile.isEmpty()) {
    PictureReady(ad);
    return;
  }
  // A picture once kept is the advertisement's picture for good.
  if (QFileInfo(ad.LocalFile).isFile()) {
    ad.Picture.load(ad.LocalFile);
    PictureReady(ad);
    return;
  }
  QDir().mkpath(QFileInfo(ad.LocalFile).absolutePath());
  auto* worker = new TAdPictureFetch(QUrl(ad.Img), ad.LocalFile);
  const int index = ad.Index;
  connect(worker, &TAdPictureFetch::Done, this, [this, index](bool saved) { PictureFetched(index, saved); },
          Qt::QueuedConnection);
  worker->start(QThread::IdlePriority);
}

void TTarnDirectAdShower::PictureFetched(int index, bool saved) {
  if (index < 0 || index >= AdCount()) return;
  TTarnDirectAd& ad = *FAds[static_cast<size_t>(index)];
  if (saved && QFileInfo(ad.LocalFile).isFile()) ad.Picture.load(ad.LocalFile);
  // The rotation may have reached it before its picture did.
  if (&ad == FCurAd && !IsAnimating() && !ad.Picture.isNull()) {
    FShown = ad.Picture;
    update();
  }
  // Without its picture the advertisement still takes its turn.
  PictureReady(ad);
}

void TTarnDirectAdShower::PictureReady(TTarnDirectAd& ad) {
  ad.PictureSettled = true;
  if (!FCurAd) MakeCurrent(&ad);
}

void TTarnDirectAdShower::MakeCurrent(TTarnDirectAd* ad) {
  if (!ad || ad == FCurAd) return;
  FCurAd = ad;
  emit ImgDone(ad->Picture.width(), ad->Picture.height());
  setToolTip(ad->Tip);
  if (!FShownOnce) {
    FShownOnce = true;
    FShown = ad->Picture;
    FLastChange = Now();
    FRotation.start();
    update();
    return;
  }
  FRotation.stop();
  FOld = FShown;
  FStep = 0;
  FAnimation.start(FAniInterval);
}

void TTarnDirectAdShower::RotationTick() {
  // A change-over under way finishes first; its end restarts the count.
  if (IsAnimating()) return;
  if (FAds.size() > 1) {
    if (Now() - FLastChange > qint64(FLifetime) * 1000)
      MakeCurrent(FAds[FCurAd ? static_cast<size_t>((FCurAd->Index + 1) % AdCount()) : 0].get());
  } else if (FAds.size() == 1 && !FCurAd) {
    MakeCurrent(FAds.front().get());
  }
}

void TTarnDirectAdShower::AnimationTick() {
  if (!FCurAd) {
    FAnimation.stop();
    return;
  }
  const QPixmap& next = FCurAd->Picture;
  const int w = FOld.width();
  if (!FOld.isNull()) {
    // The new picture uncovers the old one from the right, a tenth more each step.
    const int edge = w - (w / 10) * (FStep + 1);
    QPixmap frame(FOld.size());
    frame.fill(Qt::transparent);
    QPainter p(&frame);
    p.drawPixmap(QPoint(0, 0), FOld, QRect(0, 0, edge, FOld.height()));
    if (!next.isNull()) p.drawPixmap(QPoint(edge, 0), next, QRect(edge, 0, w - edge, FOld.height()));
    p.end();
    FShown = frame;
  }
  ++FStep;
  if (FStep >= kAnimationSteps) {
    FAnimation.stop();
    FShown = next;
    FLastChange = Now();
    FStep = 0;
    FRotation.start();
  }
  update();
}

QRect TTarnDirectAdShower::PictureRect() const {
  const QRect area = rect();
  if (FShown.isNull()) return {};
  // A panel that is not square takes any picture stretched over it; a square one keeps
  // the picture's proportions.
  if (area.width() != area.height()) return area;
  const QSize picture = FShown.size();
  QSize size;
  if (picture.width() > picture.height())
    size = QSize(area.width(), qMax(1, area.width() * picture.height() / picture.width()));
  else if (picture.width() < picture.height())
    size = QSize(qMax(1, area.height() * picture.width() / picture.height()), area.height());
  else if (picture.width() < area.width())
    size = picture;
  else
    size = area.size();
  QRect placed(QPoint(0, 0), size);
  placed.moveCenter(area.center());
  return placed;
}

void TTarnDirectAdShower::paintEvent(QPaintEvent*) {
  if (FShown.isNull()) return;
  QPainter p(this);
  p.setRenderHint(QPainter::SmoothPixmapTransform);
  p.drawPixmap(PictureRect(), FShown);
}

void TTarnDirectAdShower::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton && FCurAd && !FCurAd->Link.isEmpty() && rect().contains(event->position().toPoint()))
    OpenUrl(QUrl(FCurAd->Link));
  QWidget::mouseReleaseEvent(event);
}

}  // namespace restovo
