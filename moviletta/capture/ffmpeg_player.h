// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "moviletta/capture/audio_output.h"
#include "moviletta/capture/video_player.h"
#include "moviletta/common/bitmap.h"
#include "moviletta/common/mutex.h"
#include "moviletta/common/shared_callback.h"

namespace moviletta {

class SoundTrack;

// The player on FFmpeg: decodes a recording's pictures and shows them to its frame listener,
// scaled to the display size, and plays its sound on an output made by `audio` (none: silent).
// With sound, each picture is shown when the sound of its moment is heard (the sound clock leads);
// without, at the file's pace. An output that cannot be opened plays the pictures silently and
// is told once to the sound-unavailable listener.
//
// Threads: the host thread calls the VideoPlayer members; the pictures and the sound are decoded
// on the player's own thread, which also calls the listeners and the state callback (0 when a
// playback ends or is stopped). StopPlayback and the destructor join that thread.
class FfmpegPlayer : public VideoPlayer {
 public:
  explicit FfmpegPlayer(AudioOutputFactory audio = {});
  ~FfmpegPlayer() override;

  void SetFrameListener(std::function<void(const BitmapHandle&)> listener);
  void OnSoundUnavailable(std::function<void(const std::string& why)> unavailable);

  void OnPlayerChangeState(std::function<void(int32_t)> change_state) override;
  // Throws Error when the file cannot be opened or holds no pictures.
  void OpenFile(const std::string& path) override;
  void SetPlayRange(double start, double end) override;
  // Plays the open file's part from its start; throws Error when none is open.
  void Play() override;
  void StopPlayback() override;
  void CloseFile() override;
  void SetDisplaySize(int32_t width, int32_t height) override;

 private:
  struct Media;
  // The sound output for a playback of `media`; none without sound or an output to play it.
  std::unique_ptr<SoundTrack> OpenSound(Media& media);
  void Run(Media& media, double from, double to);
  // Decodes and shows the pictures of [from, to) at the file's pace until the part's end or
  // StopPlayback, with the sound of the same moments.
  void Show(Media& media, double from, double to);

  mutable Mutex mutex_;
  std::unique_ptr<Media> media_ GUARDED_BY(mutex_);
  SharedCallback<void(const BitmapHandle&)> listener_;
  SharedCallback<void(int32_t)> change_state_;
  const AudioOutputFactory audio_;
  SharedCallback<void(const std::string&)> sound_unavailable_;
  bool told_unavailable_ GUARDED_BY(mutex_) = false;
  int32_t display_width_ GUARDED_BY(mutex_) = 0;
  int32_t display_height_ GUARDED_BY(mutex_) = 0;
  double play_from_ GUARDED_BY(mutex_) = 0;
  double play_to_ GUARDED_BY(mutex_) = 0;
  std::atomic<bool> stop_{false};
  std::condition_variable stopped_;
  std::thread playback_;
};

}  // namespace moviletta
