#include "moviletta/skins/picture_slots.h"

#include <string>

#include "moviletta/common/error.h"

namespace moviletta {
namespace {

[[noreturn]] void Missing(int32_t index) {
  throw Error(err::kElementMissing,
              "Control array element '" + std::to_string(index) + "' doesn't exist");
}

}  // namespace

PictureSlots::PictureSlots() {
  slots_[0];
  slots_[1];
}

void PictureSlots::Create(int32_t index) {
  if (!slots_.try_emplace(index).second) throw Error(err::kAlreadyLoaded);
}

void PictureSlots::Remove(int32_t index) {
  if (index == 0 || index == 1) throw Error(err::kDesignTimeElement);
  if (slots_.erase(index) == 0) Missing(index);
}

void PictureSlots::SetPicture(int32_t index, BitmapHandle picture) {
  const auto slot = slots_.find(index);
  if (slot == slots_.end()) Missing(index);
  slot->second = std::move(picture);
}

BitmapHandle PictureSlots::Picture(int32_t index) const {
  const auto slot = slots_.find(index);
  if (slot == slots_.end()) Missing(index);
  return slot->second;
}

}  // namespace moviletta
