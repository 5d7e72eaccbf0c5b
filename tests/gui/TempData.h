#pragma once
// A copy of the bundled data in a folder of its own, removed afterwards.

#include <stdlib.h>
#include <filesystem>
#include <string>

namespace drivanto::testing {

class TempData {
 public:
  TempData() {
    char tmpl[] = "/tmp/drivanto-gui-XXXXXX";
    folder_ = mkdtemp(tmpl);
    std::filesystem::copy(DRIVANTO_TEST_DATA_DIR, folder_,
                          std::filesystem::copy_options::recursive |
                              std::filesystem::copy_options::overwrite_existing);
  }
  ~TempData() {
    std::error_code ec;
    std::filesystem::remove_all(folder_, ec);
  }
  const std::string& folder() const { return folder_; }
  std::string path(const std::string& name) const { return folder_ + "/" + name; }

 private:
  std::string folder_;
};

}  // namespace drivanto::testing
