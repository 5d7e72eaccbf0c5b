#pragma once
// A fresh folder under /tmp for one test, removed with everything in it when
// the test ends, and the few file helpers the tests of the file readers need.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>

namespace drivanto::testing {

class TempFolder {
 public:
  TempFolder() {
    char name[] = "/tmp/drivanto_test_XXXXXX";
    if (::mkdtemp(name) == nullptr) ADD_FAILURE() << "cannot create a folder under /tmp";
    path_ = name;
  }
  ~TempFolder() {
    std::error_code ec;
    // A test may have made a folder read-only; open it again so it can go.
    for (auto it = std::filesystem::recursive_directory_iterator(path_, ec);
         it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
      if (it->is_directory(ec)) ::chmod(it->path().c_str(), 0755);
    }
    std::filesystem::remove_all(path_, ec);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const std::string& path() const { return path_; }
  // The full name of a file in the folder ("a/b.txt" for a subfolder).
  std::string operator/(std::string_view name) const { return path_ + "/" + std::string(name); }

  // Writes the bytes as they are, creating subfolders as needed.
  std::string Write(std::string_view name, std::string_view bytes) const {
    std::string full = *this / name;
    std::filesystem::create_directories(std::filesystem::path(full).parent_path());
    WriteBytes(full, bytes);
    return full;
  }

  static void WriteBytes(const std::string& full, std::string_view bytes) {
    std::ofstream out(full, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) ADD_FAILURE() << "cannot write " << full;
  }

  static std::string ReadBytes(const std::string& full) {
    std::ifstream in(full, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }

  static bool Exists(const std::string& full) {
    std::error_code ec;
    return std::filesystem::exists(full, ec);
  }

 private:
  std::string path_;
};

}  // namespace drivanto::testing
