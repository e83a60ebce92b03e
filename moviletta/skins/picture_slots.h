// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <vector>

#include "moviletta/common/bitmap.h"

namespace moviletta {

// The picture slots of the control's surface (img). Slots 0 and 1 exist from the start and
// belong to the surface; further slots are created on demand and removed at shutdown. The
// decoded pictures of all slots together stay within a memory budget. Host thread only.
class PictureSlots {
 public:
  // 256 MiB of decoded pictures: an animated skin of 800 frames at 320 x 240.
  static constexpr std::size_t kDefaultBudgetBytes = std::size_t{256} << 20;

  explicit PictureSlots(std::size_t budget_bytes = kDefaultBudgetBytes);

  // Number of slots that exist.
  int32_t Count() const { return static_cast<int32_t>(slots_.size()); }

  // Throws Error 360 when the slot exists already.
  void Create(int32_t index);
  // Throws Error 340 when the slot does not exist, 362 for the surface's own slots 0 and 1.
  void Remove(int32_t index);

  // Throws Error 340 when the slot does not exist, 7 when the picture would take the slots
  // beyond their budget (the slot keeps its picture).
  void SetPicture(int32_t index, BitmapHandle picture);
  std::size_t bytes() const { return bytes_; }
  // The bytes a picture set into slot `index` may take within the budget. Throws Error 340 when
  // the slot does not exist.
  std::size_t Room(int32_t index) const;
  BitmapHandle Picture(int32_t index) const;

 private:
  std::map<int32_t, BitmapHandle> slots_;
  std::size_t budget_bytes_;
  std::size_t bytes_ = 0;
};

}  // namespace moviletta
