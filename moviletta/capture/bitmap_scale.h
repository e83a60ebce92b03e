// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "moviletta/common/bitmap.h"

namespace moviletta {

enum class Scaling {
  kBilinear,
  kNearest,  // keeps every colour as it is: for pictures with a transparent colour
};

// `picture` at `width` x `height`; the same handle when the size is already that or the size
// asked for is not positive. Any thread.
BitmapHandle ScaleBitmap(const BitmapHandle& picture, int width, int height,
                         Scaling scaling = Scaling::kBilinear);

// `picture` in a `width` x `height` one, in its own proportions, in the middle between opaque
// black bars (CentredFit); the same handle when the size is already that or the size asked for
// is not positive. Any thread.
BitmapHandle FitBitmap(const BitmapHandle& picture, int width, int height);

}  // namespace moviletta
