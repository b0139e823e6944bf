// Writes the dialog's two 31x31 24-bit bitmaps: a letter above a line.
//   make_bitmaps OUT_DIR  ->  OUT_DIR/bitmap_4021.bmp, OUT_DIR/bitmap_4026.bmp
// Built and run on the build machine, so the repository holds no image files.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr int kSize = 31;
constexpr int kScale = 3;
constexpr int kGlyphLeft = 8;
constexpr int kGlyphTop = 2;
constexpr int kLineTop = 25;
constexpr int kLineHeight = 2;
constexpr int kLineLeft = 2;
constexpr int kLineRight = 28;

struct Rgb {
  uint8_t r, g, b;
};

constexpr Rgb kBackground{255, 255, 255};

const char* const kGlyphS[7] = {".###.", "#...#", "#....", ".###.", "....#", "#...#", ".###."};
const char* const kGlyphC[7] = {".###.", "#...#", "#....", "#....", "#....", "#...#", ".###."};

using Image = std::vector<Rgb>;  // top-down rows

void DrawGlyph(Image& img, const char* const glyph[7], Rgb ink) {
  for (int gy = 0; gy < 7; ++gy)
    for (int gx = 0; gx < 5; ++gx) {
      if (glyph[gy][gx] != '#') continue;
      for (int dy = 0; dy < kScale; ++dy)
        for (int dx = 0; dx < kScale; ++dx)
          img[(kGlyphTop + gy * kScale + dy) * kSize + kGlyphLeft + gx * kScale + dx] = ink;
    }
}

// dash/gap 0 draws a solid line.
void DrawLine(Image& img, Rgb ink, int dash, int gap) {
  for (int y = kLineTop; y < kLineTop + kLineHeight; ++y)
    for (int x = kLineLeft; x <= kLineRight; ++x) {
      const bool on = dash == 0 || (x - kLineLeft) % (dash + gap) < dash;
      if (on) img[y * kSize + x] = ink;
    }
}

void Put16(std::vector<uint8_t>& out, uint16_t v) {
  out.push_back(v & 0xFF);
  out.push_back(v >> 8);
}
void Put32(std::vector<uint8_t>& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back((v >> (8 * i)) & 0xFF);
}

bool WriteBmp(const std::string& path, const Image& img) {
  const uint32_t rowBytes = (kSize * 3 + 3) & ~3u;
  const uint32_t pixelBytes = rowBytes * kSize;
  std::vector<uint8_t> out;
  out.push_back('B');
  out.push_back('M');
  Put32(out, 54 + pixelBytes);
  Put32(out, 0);
  Put32(out, 54);
  Put32(out, 40);     // BITMAPINFOHEADER
  Put32(out, kSize);  // width
  Put32(out, kSize);  // height > 0: bottom-up rows
  Put16(out, 1);
  Put16(out, 24);
  Put32(out, 0);  // BI_RGB
  Put32(out, pixelBytes);
  Put32(out, 2835);  // 72 dpi
  Put32(out, 2835);
  Put32(out, 0);
  Put32(out, 0);
  for (int y = kSize - 1; y >= 0; --y) {
    for (int x = 0; x < kSize; ++x) {
      const Rgb& p = img[y * kSize + x];
      out.push_back(p.b);
      out.push_back(p.g);
      out.push_back(p.r);
    }
    for (uint32_t pad = kSize * 3; pad < rowBytes; ++pad) out.push_back(0);
  }
  FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  const bool ok = std::fwrite(out.data(), 1, out.size(), f) == out.size();
  return std::fclose(f) == 0 && ok;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s OUT_DIR\n", argv[0]);
    return 2;
  }
  const std::string dir = argv[1];

  Image step(kSize * kSize, kBackground);
  DrawGlyph(step, kGlyphS, Rgb{0, 0, 255});
  DrawLine(step, Rgb{0, 0, 255}, 4, 2);

  Image continuous(kSize * kSize, kBackground);
  DrawGlyph(continuous, kGlyphC, Rgb{0, 0, 0});
  DrawLine(continuous, Rgb{0, 0, 0}, 0, 0);

  if (!WriteBmp(dir + "/bitmap_4021.bmp", step) ||
      !WriteBmp(dir + "/bitmap_4026.bmp", continuous)) {
    std::fprintf(stderr, "cannot write the bitmaps into %s\n", dir.c_str());
    return 1;
  }
  return 0;
}
