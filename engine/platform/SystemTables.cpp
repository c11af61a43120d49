#include "platform/SystemTables.h"

#include <sys/sysmacros.h>

#include <cctype>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace restovo {

namespace fs = std::filesystem;

namespace {

// mountinfo escapes space, tab, newline and backslash as octal.
std::string UnescapeMountPath(const std::string& raw) {
  std::string out;
  for (std::size_t i = 0; i < raw.size(); ++i) {
    if (raw[i] == '\\' && i + 3 < raw.size() && std::isdigit(static_cast<unsigned char>(raw[i + 1])) &&
        std::isdigit(static_cast<unsigned char>(raw[i + 2])) &&
        std::isdigit(static_cast<unsigned char>(raw[i + 3]))) {
      out.push_back(static_cast<char>((raw[i + 1] - '0') * 64 + (raw[i + 2] - '0') * 8 + (raw[i + 3] - '0')));
      i += 3;
    } else {
      out.push_back(raw[i]);
    }
  }
  return out;
}

}  // namespace

std::string DeviceNumberText(dev_t device) {
  return std::to_string(major(device)) + ":" + std::to_string(minor(device));
}

std::string ReadFirstLine(const std::string& path) {
  std::ifstream in(path);
  std::string line;
  std::getline(in, line);
  return line;
}

std::uint64_t ReadNumberFile(const std::string& path) {
  const std::string line = ReadFirstLine(path);
  std::uint64_t value = 0;
  for (const char c : line) {
    if (c < '0' || c > '9') break;
    const std::uint64_t digit = static_cast<std::uint64_t>(c - '0');
    if (value > (UINT64_MAX - digit) / 10) return 0;  // no such figure in a system table
    value = value * 10 + digit;
  }
  return value;
}

std::string SysfsBlockDir(const TSystemPaths& paths, dev_t device) {
  std::error_code ec;
  const fs::path dir = fs::canonical(paths.SysDevBlock + "/" + DeviceNumberText(device), ec);
  return ec ? std::string() : dir.string();
}

std::string BlockDeviceNode(const TSystemPaths& paths, dev_t device) {
  std::ifstream uevent(paths.SysDevBlock + "/" + DeviceNumberText(device) + "/uevent");
  std::string line;
  while (std::getline(uevent, line)) {
    if (line.rfind("DEVNAME=", 0) == 0) return paths.DevDir + "/" + line.substr(8);
  }
  return {};
}

std::vector<TMountEntry> ReadMountInfo(const std::string& mountInfoPath) {
  std::vector<TMountEntry> mounts;
  std::ifstream in(mountInfoPath);
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string id, parent;
    TMountEntry entry;
    if (!(fields >> id >> parent >> entry.DevNo >> entry.Root >> entry.MountPoint)) continue;
    entry.Root = UnescapeMountPath(entry.Root);
    entry.MountPoint = UnescapeMountPath(entry.MountPoint);
    // Optional fields end at a lone "-"; the type and source follow.
    if (const auto dash = line.find(" - "); dash != std::string::npos) {
      std::istringstream tail(line.substr(dash + 3));
      tail >> entry.Type >> entry.Source;
      entry.Source = UnescapeMountPath(entry.Source);
    }
    mounts.push_back(std::move(entry));
  }
  return mounts;
}

std::map<std::string, std::string> ReadUdevProperties(const TSystemPaths& paths, const std::string& devNo) {
  std::map<std::string, std::string> properties;
  std::ifstream in(paths.UdevData + "/b" + devNo);
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("E:", 0) != 0) continue;
    const auto eq = line.find('=');
    if (eq == std::string::npos) continue;
    properties[line.substr(2, eq - 2)] = line.substr(eq + 1);
  }
  return properties;
}

}  // namespace restovo
