#pragma once

#include "moviletta/common/bitmap.h"

namespace moviletta {

// `picture` at `width` x `height` (bilinear); the same handle when the size is already that or
// the size asked for is not positive. Any thread.
BitmapHandle ScaleBitmap(const BitmapHandle& picture, int width, int height);

}  // namespace moviletta
