// SPDX-License-Identifier: GPL-3.0-or-later
#include "moviletta/capture/fake_video_player.h"

#include <thread>

#include "moviletta/common/error.h"

namespace moviletta {

void FakeVideoPlayer::Record(std::string call) {
  const std::string name = call.substr(0, call.find('('));
  if (!fail_on.empty() && name == fail_on)
    throw Error(err::kComponentFailed, name + " failed", "FakeVideoPlayer");
  calls.push_back(std::move(call));
}

void FakeVideoPlayer::RaisePlayerChangeState(int32_t state) {
  if (change_state_) std::thread(change_state_, state).join();
}

}  // namespace moviletta
