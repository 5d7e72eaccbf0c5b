#pragma once
// Windows bitmap files: reading (1, 4, 8, 24 and 32 bits per pixel,
// uncompressed) and writing (24 bits, or 4 bits with a 16-colour palette).

#include <string>

#include "display/Canvas.h"

namespace drivanto {

// Throws IoError naming the file when it cannot be read or is not a bitmap.
Picture LoadBmp(const std::string& fileName);
// Throws IoError.
void SaveBmp24(const std::string& fileName, const Picture& picture);
// The picture's colours must be among the 16 of the palette.
void SaveBmp4(const std::string& fileName, const Picture& picture, const Rgb palette[16]);

}  // namespace drivanto
