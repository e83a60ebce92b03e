// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>

namespace moviletta::service {

// What a checked file holds.
struct MediaFacts {
  double seconds = 0;  // the video's length; 0 for a picture
  int width = 0, height = 0;
  bool sound = false;
};

// Checks by its content that the file at `path` is a video of at most `max_seconds` whose first
// picture decodes, through the FFmpeg libraries. Throws RefusedMail saying what it is not.
MediaFacts CheckVideo(const std::string& path, double max_seconds);
// Checks that the file at `path` is a JPEG picture that decodes. Throws RefusedMail.
MediaFacts CheckJpeg(const std::string& path);

}  // namespace moviletta::service
