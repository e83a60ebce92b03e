// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <functional>

#include "moviletta/control/panel.h"

namespace moviletta {

// A panel that keeps whether it is shown, for hosts without a screen and for tests.
class MemoryPanel : public Panel {
 public:
  void SetVisible(bool v) override {
    visible = v;
    if (on_change) on_change();
  }

  bool visible = false;
  std::function<void()> on_change;
};

}  // namespace moviletta
