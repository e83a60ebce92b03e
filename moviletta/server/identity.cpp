// SPDX-License-Identifier: GPL-3.0-or-later
#include "moviletta/server/identity.h"

#include <sys/statvfs.h>

#include "moviletta/common/constants.h"

namespace moviletta {

std::optional<uint32_t> RootVolumeSerial() {
  struct statvfs info {};
  if (statvfs("/", &info) != 0) return std::nullopt;
  return static_cast<uint32_t>(info.f_fsid);
}

std::string InstallationIdText(std::optional<uint32_t> serial) {
  if (!serial) return "-1";
  return std::to_string(static_cast<int32_t>(*serial));
}

Identity::Identity(VolumeSerialSource volume_serial)
    : volume_serial_(std::move(volume_serial)), generator_(std::random_device{}()) {}

std::string Identity::ComputeInstallationID() const {
  return InstallationIdText(volume_serial_());
}

std::string Identity::GetClientVersion() {
  return std::to_string(kVersionMajor) + "." + std::to_string(kVersionMinor);
}

std::string Identity::GenerateRandomToken() {
  std::uniform_int_distribution<int32_t> draw(100001, 999999);
  return std::to_string(draw(generator_));
}

}  // namespace moviletta
