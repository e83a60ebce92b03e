// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <random>
#include <string>

namespace moviletta {

// Reads the 32-bit serial of the installation's volume; nothing when it cannot be read.
using VolumeSerialSource = std::function<std::optional<uint32_t>()>;

// The root file system's identifier (statvfs("/").f_fsid, low 32 bits).
std::optional<uint32_t> RootVolumeSerial();

// The serial read as a signed 32-bit number in decimal; "-1" when there is none.
std::string InstallationIdText(std::optional<uint32_t> serial);

// The identity values every exchange with the greeting server carries. Nothing is stored: each
// call computes its value anew. Host thread only.
class Identity {
 public:
  explicit Identity(VolumeSerialSource volume_serial = RootVolumeSerial);

  std::string ComputeInstallationID() const;
  // "1.6".
  static std::string GetClientVersion();
  // Six decimal digits, 100001 to 999999, from a generator seeded once.
  std::string GenerateRandomToken();

 private:
  VolumeSerialSource volume_serial_;
  std::mt19937 generator_;
};

}  // namespace moviletta
