// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace moviletta {

// Writes a recording as an AVI file with MJPEG video and 16-bit mono PCM sound. One thread at a
// time; any thread.
class AviRecorder {
 public:
  // Creates `path` for `width` x `height` frames at `fps` and sound at `sample_rate`. Throws Error
  // when the file cannot be created.
  AviRecorder(const std::string& path, int width, int height, int fps, int sample_rate);
  // Finishes the file if Finish was not called, ignoring failures.
  ~AviRecorder();
  AviRecorder(const AviRecorder&) = delete;
  AviRecorder& operator=(const AviRecorder&) = delete;

  // Appends one RGBA frame and the `count` samples of sound that go with it. Throws Error when
  // writing fails; the file then holds what was written before and Finish can still close it.
  // Before the disk or the process's file size limit is full, refuses the frame (Error 61, "The
  // disk is full") while there is still room to finish the file whole: its last frame complete,
  // its index written.
  void Write(const uint8_t* rgba, const int16_t* samples, int count);
  // Flushes the encoders and writes the index. Throws Error when that fails. Idempotent.
  void Finish();

  int64_t frames() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace moviletta
