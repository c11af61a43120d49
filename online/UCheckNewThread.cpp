#include "UCheckNewThread.h"

namespace restovo {

TCheckUpdate::TCheckUpdate(const QUrl& address, int ownBuild, QObject* parent)
    : QThread(parent), Address(address), OwnBuild(ownBuild) {
  qRegisterMetaType<restovo::TUpdateInfo>();
  connect(this, &QThread::finished, this, &QObject::deleteLater);
}

void TCheckUpdate::Launch() { start(QThread::IdlePriority); }

void TCheckUpdate::run() { emit Done(ParseUpdateReply(HttpGetText(Address), OwnBuild)); }

TGetNews::TGetNews(const QUrl& address, const QUrl& defaultPage, QObject* parent)
    : QThread(parent), Address(address), DefaultPage(defaultPage) {
  qRegisterMetaType<restovo::TNewsInfo>();
  connect(this, &QThread::finished, this, &QObject::deleteLater);
}

void TGetNews::Launch() { start(QThread::NormalPriority); }

void TGetNews::run() {
  emit Done(ParseNewsDescriptor(HttpGetText(Address), DefaultPage.toString()));
}

}  // namespace restovo
