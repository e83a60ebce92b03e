#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "moviletta/capture/video_player.h"
#include "moviletta/common/bitmap.h"

namespace moviletta {

// The player on FFmpeg: decodes a recording's pictures and shows them at their own pace to its
// frame listener, scaled to the display size. It plays silently: the engine has no sound output.
//
// Threads: the host thread calls the VideoPlayer members; the pictures are decoded on the
// player's own thread, which also calls the frame listener and the state callback (0 when a
// playback ends or is stopped). StopPlayback and the destructor join that thread.
class FfmpegPlayer : public VideoPlayer {
 public:
  FfmpegPlayer();
  ~FfmpegPlayer() override;

  void SetFrameListener(std::function<void(const BitmapHandle&)> listener);

  void OnPlayerChangeState(std::function<void(int32_t)> change_state) override;
  // Throws Error when the file cannot be opened or holds no pictures.
  void OpenFile(const std::string& path) override;
  // Plays the open file from its beginning; throws Error when none is open.
  void Play() override;
  void StopPlayback() override;
  void CloseFile() override;
  void SetDisplaySize(int32_t& width, int32_t& height) override;

 private:
  struct Media;
  void Run(Media& media);
  // Decodes and shows the pictures at the file's pace until the end or StopPlayback.
  void Show(Media& media);

  mutable std::mutex mutex_;
  std::unique_ptr<Media> media_;
  std::function<void(const BitmapHandle&)> listener_;
  std::function<void(int32_t)> change_state_;
  int32_t display_width_ = 0;
  int32_t display_height_ = 0;
  std::atomic<bool> stop_{false};
  std::condition_variable stopped_;
  std::thread playback_;
};

}  // namespace moviletta
