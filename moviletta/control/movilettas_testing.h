// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "moviletta/control/movilettas.h"
#include "moviletta/control/movilettas_impl.h"

namespace moviletta {

// The one way into a control's insides: its skin cache and downloads, picture slots,
// compressions and sends, and the poster its components notify through. Tests only.
class MovilettasTesting {
 public:
  static MovilettasImpl& Insides(Movilettas& control) {
    return dynamic_cast<MovilettasImpl&>(control);
  }
};

}  // namespace moviletta
