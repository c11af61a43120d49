#include "DeviceMonitor.h"

#include <libudev.h>

#include <QSocketNotifier>
#include <cstring>

namespace restovo {

TDeviceMonitor::TDeviceMonitor(QObject* parent) : QObject(parent) {
  udev_ = udev_new();
  if (!udev_) return;
  monitor_ = udev_monitor_new_from_netlink(udev_, "udev");
  if (!monitor_ || udev_monitor_filter_add_match_subsystem_devtype(monitor_, "block", nullptr) < 0 ||
      udev_monitor_enable_receiving(monitor_) < 0) {
    return;
  }
  notifier_ = new QSocketNotifier(udev_monitor_get_fd(monitor_), QSocketNotifier::Read, this);
  connect(notifier_, &QSocketNotifier::activated, this, &TDeviceMonitor::ReadEvents);
}

TDeviceMonitor::~TDeviceMonitor() {
  delete notifier_;
  if (monitor_) udev_monitor_unref(monitor_);
  if (udev_) udev_unref(udev_);
}

void TDeviceMonitor::ReadEvents() {
  // Drain everything that is queued: a card reader reports the disk and each partition.
  bool arrived = false;
  bool removed = false;
  while (udev_device* device = udev_monitor_receive_device(monitor_)) {
    const char* action = udev_device_get_action(device);
    if (action && std::strcmp(action, "add") == 0) arrived = true;
    // "change" is what a card reader sends when a card goes in or out of a fixed slot.
    if (action && std::strcmp(action, "change") == 0) arrived = true;
    if (action && std::strcmp(action, "remove") == 0) removed = true;
    udev_device_unref(device);
  }
  if (removed) emit DeviceRemoved();
  if (arrived) emit DeviceArrived();
}

}  // namespace restovo
