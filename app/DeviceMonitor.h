// Tells the window when a block device appears or goes away (a card put in, a stick
// pulled out), from udev's monitor socket, on the main thread.
#pragma once

#include <QObject>

struct udev;
struct udev_monitor;
class QSocketNotifier;

namespace restovo {

class TDeviceMonitor final : public QObject {
  Q_OBJECT

 public:
  explicit TDeviceMonitor(QObject* parent = nullptr);
  ~TDeviceMonitor() override;

  // False where udev cannot be reached (a container without it): the drive list then
  // only changes when the user opens an image.
  bool IsActive() const { return notifier_ != nullptr; }

 signals:
  void DeviceArrived();
  void DeviceRemoved();

 private:
  void ReadEvents();

  udev* udev_ = nullptr;
  udev_monitor* monitor_ = nullptr;
  QSocketNotifier* notifier_ = nullptr;
};

}  // namespace restovo
