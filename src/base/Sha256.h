#pragma once
// SHA-256 of bytes and of files, as lowercase hexadecimal: the fingerprint that
// ties a result to the exact inputs it was computed from.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace drivanto {

class Sha256 {
 public:
  Sha256();
  void Update(std::string_view bytes);
  // The digest as 64 lowercase hexadecimal digits; the object is spent.
  std::string HexDigest();

 private:
  void Block(const unsigned char* p);
  std::array<uint32_t, 8> h_;
  unsigned char buffer_[64];
  std::size_t used_ = 0;
  uint64_t length_ = 0;
};

std::string Sha256Hex(std::string_view bytes);

// The digest of a file's bytes; throws IoError naming the file.
std::string Sha256OfFile(const std::string& path);

}  // namespace drivanto
