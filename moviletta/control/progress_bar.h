// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <string>

namespace moviletta {

// The progress bar on the control's surface (vbalProgressBar1): written, never read. The host
// renders it. Host thread only.
class ProgressBar {
 public:
  virtual ~ProgressBar() = default;
  // 0 to 100.
  virtual void SetProgressValue(int32_t value) = 0;
  virtual void SetProgressText(const std::string& text) = 0;
};

}  // namespace moviletta
