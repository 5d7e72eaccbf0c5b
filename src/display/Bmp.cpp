#include "display/Bmp.h"

#include <cstdint>
#include <cstring>

#include "base/Errors.h"
#include "base/Files.h"

namespace drivanto {

namespace {

uint32_t U32(const std::string& b, std::size_t at) {
  if (at + 4 > b.size()) return 0;
  return static_cast<uint32_t>(static_cast<unsigned char>(b[at])) |
         static_cast<uint32_t>(static_cast<unsigned char>(b[at + 1])) << 8 |
         static_cast<uint32_t>(static_cast<unsigned char>(b[at + 2])) << 16 |
         static_cast<uint32_t>(static_cast<unsigned char>(b[at + 3])) << 24;
}
uint16_t U16(const std::string& b, std::size_t at) {
  if (at + 2 > b.size()) return 0;
  return static_cast<uint16_t>(static_cast<unsigned char>(b[at]) |
                               static_cast<unsigned char>(b[at + 1]) << 8);
}

void Put32(std::string& b, uint32_t v) {
  for (int i = 0; i < 4; ++i) b.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}
void Put16(std::string& b, uint16_t v) {
  b.push_back(static_cast<char>(v & 0xFF));
  b.push_back(static_cast<char>(v >> 8));
}

std::string Header(int width, int height, int bits, uint32_t paletteBytes, uint32_t imageBytes) {
  std::string b = "BM";
  Put32(b, 54 + paletteBytes + imageBytes);
  Put32(b, 0);
  Put32(b, 54 + paletteBytes);
  Put32(b, 40);
  Put32(b, static_cast<uint32_t>(width));
  Put32(b, static_cast<uint32_t>(height));
  Put16(b, 1);
  Put16(b, static_cast<uint16_t>(bits));
  Put32(b, 0);
  Put32(b, imageBytes);
  Put32(b, 2835);
  Put32(b, 2835);
  Put32(b, bits <= 8 ? (1u << bits) : 0);
  Put32(b, 0);
  return b;
}

}  // namespace

Picture LoadBmp(const std::string& fileName) {
  const std::string b = ReadFileBytes(fileName);
  auto bad = [&](const char* why) { return IoError(fileName, 0, why); };
  if (b.size() < 54 || b[0] != 'B' || b[1] != 'M') throw bad("not a bitmap file");
  const uint32_t offset = U32(b, 10);
  const uint32_t headerSize = U32(b, 14);
  const int32_t width = static_cast<int32_t>(U32(b, 18));
  int32_t height = static_cast<int32_t>(U32(b, 22));
  const uint16_t bits = U16(b, 28);
  const uint32_t compression = U32(b, 30);
  uint32_t colors = U32(b, 46);
  if (compression != 0 && !(compression == 3 && (bits == 32 || bits == 16))) {
    throw bad("compressed bitmaps are not supported");
  }
  if (bits != 1 && bits != 4 && bits != 8 && bits != 24 && bits != 32) {
    throw bad("unsupported number of bits per pixel");
  }
  const bool topDown = height < 0;
  if (topDown) height = -height;
  if (width <= 0 || height <= 0 || width > 20000 || height > 20000)
    throw bad("invalid picture size");
  std::vector<Rgb> palette;
  if (bits <= 8) {
    if (colors == 0 || colors > (1u << bits)) colors = 1u << bits;
    std::size_t at = 14 + headerSize;
    for (uint32_t i = 0; i < colors; ++i, at += 4) {
      if (at + 4 > b.size()) throw bad("the file ends inside its palette");
      palette.push_back({static_cast<uint8_t>(b[at + 2]), static_cast<uint8_t>(b[at + 1]),
                         static_cast<uint8_t>(b[at])});
    }
  }
  const std::size_t stride = ((static_cast<std::size_t>(width) * bits + 31) / 32) * 4;
  if (offset + stride * static_cast<std::size_t>(height) > b.size()) {
    throw bad("the file ends inside its pixels");
  }
  Picture p;
  p.width = width;
  p.height = height;
  p.pixels.resize(static_cast<std::size_t>(width) * height);
  for (int row = 0; row < height; ++row) {
    const int y = topDown ? row : height - 1 - row;
    const std::size_t line = offset + stride * static_cast<std::size_t>(row);
    for (int x = 0; x < width; ++x) {
      Rgb c;
      if (bits == 24 || bits == 32) {
        const std::size_t at = line + static_cast<std::size_t>(x) * (bits / 8);
        c = {static_cast<uint8_t>(b[at + 2]), static_cast<uint8_t>(b[at + 1]),
             static_cast<uint8_t>(b[at])};
      } else {
        const std::size_t bit = static_cast<std::size_t>(x) * bits;
        const auto byte = static_cast<unsigned char>(b[line + bit / 8]);
        const unsigned shift = 8 - bits - (bit % 8);
        const unsigned index = (byte >> shift) & ((1u << bits) - 1);
        c = index < palette.size() ? palette[index] : Rgb{};
      }
      p.pixels[static_cast<std::size_t>(y) * width + x] = c;
    }
  }
  return p;
}

void SaveBmp24(const std::string& fileName, const Picture& p) {
  const std::size_t stride = ((static_cast<std::size_t>(p.width) * 24 + 31) / 32) * 4;
  std::string b = Header(p.width, p.height, 24, 0, static_cast<uint32_t>(stride * p.height));
  for (int y = p.height - 1; y >= 0; --y) {
    std::size_t start = b.size();
    for (int x = 0; x < p.width; ++x) {
      Rgb c = p.At(x, y);
      b.push_back(static_cast<char>(c.b));
      b.push_back(static_cast<char>(c.g));
      b.push_back(static_cast<char>(c.r));
    }
    while (b.size() - start < stride) b.push_back('\0');
  }
  WriteFileAtomic(fileName, b);
}

void SaveBmp4(const std::string& fileName, const Picture& p, const Rgb palette[16]) {
  const std::size_t stride = ((static_cast<std::size_t>(p.width) * 4 + 31) / 32) * 4;
  std::string b = Header(p.width, p.height, 4, 64, static_cast<uint32_t>(stride * p.height));
  for (int i = 0; i < 16; ++i) {
    b.push_back(static_cast<char>(palette[i].b));
    b.push_back(static_cast<char>(palette[i].g));
    b.push_back(static_cast<char>(palette[i].r));
    b.push_back('\0');
  }
  for (int y = p.height - 1; y >= 0; --y) {
    std::string line(stride, '\0');
    for (int x = 0; x < p.width; ++x) {
      Rgb c = p.At(x, y);
      int index = 0;
      for (int i = 0; i < 16; ++i) {
        if (palette[i] == c) {
          index = i;
          break;
        }
      }
      line[static_cast<std::size_t>(x) / 2] |= static_cast<char>(x % 2 == 0 ? index << 4 : index);
    }
    b += line;
  }
  WriteFileAtomic(fileName, b);
}

}  // namespace drivanto
