// SPDX-License-Identifier: GPL-3.0-or-later
#include "moviletta/skins/picture_slots.h"

#include <string>

#include "moviletta/common/error.h"

namespace moviletta {
namespace {

[[noreturn]] void Missing(int32_t index) {
  throw Error(err::kElementMissing,
              "Control array element '" + std::to_string(index) + "' doesn't exist");
}

std::size_t SizeOf(const BitmapHandle& picture) {
  return picture ? picture->rgba.size() : 0;
}

}  // namespace

PictureSlots::PictureSlots(std::size_t budget_bytes) : budget_bytes_(budget_bytes) {
  slots_[0];
  slots_[1];
}

void PictureSlots::Create(int32_t index) {
  if (!slots_.try_emplace(index).second) throw Error(err::kAlreadyLoaded);
}

void PictureSlots::Remove(int32_t index) {
  if (index == 0 || index == 1) throw Error(err::kDesignTimeElement);
  const auto slot = slots_.find(index);
  if (slot == slots_.end()) Missing(index);
  bytes_ -= SizeOf(slot->second);
  slots_.erase(slot);
}

void PictureSlots::SetPicture(int32_t index, BitmapHandle picture) {
  if (SizeOf(picture) > Room(index))  // Error 340 for a slot that does not exist
    throw Error(err::kOutOfMemory, "the skin's pictures take more than the " +
                                       std::to_string(budget_bytes_ >> 20) +
                                       " MiB the control keeps for skins");
  BitmapHandle& slot = slots_.at(index);
  bytes_ = bytes_ - SizeOf(slot) + SizeOf(picture);
  slot = std::move(picture);
}

std::size_t PictureSlots::Room(int32_t index) const {
  return budget_bytes_ - (bytes_ - SizeOf(Picture(index)));
}

BitmapHandle PictureSlots::Picture(int32_t index) const {
  const auto slot = slots_.find(index);
  if (slot == slots_.end()) Missing(index);
  return slot->second;
}

}  // namespace moviletta
