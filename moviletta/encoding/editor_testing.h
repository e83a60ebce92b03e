// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "moviletta/encoding/ffmpeg_video_editor.h"

namespace moviletta {

// The way into where an editor's work ahead stands. Tests and benchmarks only.
class EditorTesting {
 public:
  static bool None(FfmpegVideoEditor& editor) { return State(editor) == Ahead::kNone; }
  static bool Running(FfmpegVideoEditor& editor) { return State(editor) == Ahead::kRunning; }
  static bool Ready(FfmpegVideoEditor& editor) { return State(editor) == Ahead::kReady; }

 private:
  using Ahead = FfmpegVideoEditor::Ahead;
  static Ahead State(FfmpegVideoEditor& editor) { return editor.AheadState(); }
};

}  // namespace moviletta
