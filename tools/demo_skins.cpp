// SPDX-License-Identifier: GPL-3.0-or-later
// demo-skins DIR: writes the demo's skin catalogue below DIR/skins: an animated skin (42) of six
// frames, a static skin (7) and the placeholder (100000), 320 x 240 with magenta (0xFF00FF, the
// demo's TRANSCOLOR) where the camera shows through.
#include <gif_lib.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <vector>

namespace fs = std::filesystem;

namespace {

constexpr int kWidth = 320, kHeight = 240;

// Palette: 0 magenta (see-through), 1 white, 2 gold, 3 deep blue.
void WriteGif(const fs::path& path, const std::vector<GifPixelType>& pixels) {
  fs::create_directories(path.parent_path());
  int error = 0;
  GifFileType* gif = EGifOpenFileName(path.c_str(), false, &error);
  if (!gif) throw std::runtime_error("cannot write " + path.string());
  ColorMapObject* map = GifMakeMapObject(4, nullptr);
  map->Colors[0] = {255, 0, 255}, map->Colors[1] = {255, 255, 255};
  map->Colors[2] = {240, 190, 40}, map->Colors[3] = {20, 40, 120};
  EGifPutScreenDesc(gif, kWidth, kHeight, 8, 0, map);
  EGifPutImageDesc(gif, 0, 0, kWidth, kHeight, false, nullptr);
  for (int y = 0; y < kHeight; ++y)
    EGifPutLine(gif, const_cast<GifPixelType*>(&pixels[y * kWidth]), kWidth);
  GifFreeMapObject(map);
  EGifCloseFile(gif, &error);
}

std::vector<GifPixelType> Frame(int border, int colour) {
  std::vector<GifPixelType> pixels(kWidth * kHeight, 0);
  for (int y = 0; y < kHeight; ++y)
    for (int x = 0; x < kWidth; ++x)
      if (x < border || y < border || x >= kWidth - border || y >= kHeight - border)
        pixels[y * kWidth + x] = static_cast<GifPixelType>(colour);
  return pixels;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: demo-skins DIR\n";
    return 2;
  }
  const fs::path files = fs::path(argv[1]) / "skins" / "files";
  for (int i = 1; i <= 6; ++i) {  // a gold star circling inside a blue frame
    std::vector<GifPixelType> pixels = Frame(8, 3);
    const double angle = i * 2 * M_PI / 6;
    const int cx = kWidth / 2 + static_cast<int>(100 * std::cos(angle));
    const int cy = kHeight / 2 + static_cast<int>(70 * std::sin(angle));
    for (int y = cy - 14; y <= cy + 14; ++y)
      for (int x = cx - 14; x <= cx + 14; ++x)
        if (std::abs(x - cx) + std::abs(y - cy) <= 14) pixels[y * kWidth + x] = 2;
    WriteGif(files / "frames" / "42" / (std::to_string(i) + ".gif"), pixels);
  }
  WriteGif(files / "statics" / "7.gif", Frame(14, 2));
  WriteGif(files / "statics" / "placeholder.gif", Frame(4, 1));
  std::ofstream(fs::path(argv[1]) / "skins" / "catalogue.txt")
      << "42,SKIN,frames/42/,6\n7,STATIC,statics/7.gif\n100000,STATIC,statics/placeholder.gif\n";
  std::ofstream(fs::path(argv[1]) / "skins" / "names.txt")
      << "42,Circling star\n7,Golden frame\n";
  std::cout << "demo skins in " << files.string() << "\n";
}
