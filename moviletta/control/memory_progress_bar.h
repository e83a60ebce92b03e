// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <functional>
#include <string>

#include "moviletta/control/progress_bar.h"

namespace moviletta {

// A progress bar that keeps its current value and text, for hosts without a screen; `on_change`
// is told after every write.
class MemoryProgressBar : public ProgressBar {
 public:
  void SetProgressValue(int32_t v) override {
    value = v;
    if (on_change) on_change();
  }
  void SetProgressText(const std::string& t) override {
    text = t;
    if (on_change) on_change();
  }

  int32_t value = 0;
  std::string text;
  std::function<void()> on_change;
};

}  // namespace moviletta
