// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

namespace moviletta {

// The panel on the control's surface (picGeneral) shown while a greeting is compressed and
// sent. The host renders it. Host thread only.
class Panel {
 public:
  virtual ~Panel() = default;
  virtual void SetVisible(bool visible) = 0;
};

}  // namespace moviletta
