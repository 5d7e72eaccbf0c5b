#pragma once
// The C library's Swedish locale (decimal comma) for as long as the object
// lives, as a Swedish user's program has it: the installed sv_SE.UTF-8, else
// one compiled once by localedef (Debian: the package locales) into a
// temporary folder and found there through LOCPATH.

#include <unistd.h>

#include <clocale>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace drivanto::testing {

class SwedishLocale {
 public:
  SwedishLocale() {
    if (const char* now = std::setlocale(LC_ALL, nullptr)) before_ = now;
    ok_ = std::setlocale(LC_ALL, kName) != nullptr || FromCompiled();
  }
  ~SwedishLocale() { std::setlocale(LC_ALL, before_.c_str()); }
  SwedishLocale(const SwedishLocale&) = delete;
  SwedishLocale& operator=(const SwedishLocale&) = delete;

  // Whether the locale is in force; the decimal sign proves it.
  bool ok() const { return ok_ && std::localeconv()->decimal_point[0] == ','; }

 private:
  static constexpr const char* kName = "sv_SE.UTF-8";

  static const std::string& CompiledFolder() {
    static const std::string folder = [] {
      const std::string dir =
          (std::filesystem::temp_directory_path() / "drivanto-test-locales").string();
      const std::string target = dir + "/" + kName;
      std::error_code ec;
      if (!std::filesystem::exists(target + "/LC_NUMERIC", ec)) {
        // Compiled aside and moved into place whole: test programs running
        // side by side may do the same.
        const std::string aside = dir + "/part-" + std::to_string(getpid());
        std::filesystem::create_directories(aside, ec);
        const std::string command =
            "localedef -i sv_SE -f UTF-8 '" + aside + "/" + kName + "' >/dev/null 2>&1";
        // Warnings give a non-zero status: the compiled locale decides.
        [[maybe_unused]] const int status = std::system(command.c_str());
        std::filesystem::rename(aside + "/" + kName, target, ec);
        std::filesystem::remove_all(aside, ec);
      }
      return std::filesystem::exists(target + "/LC_NUMERIC", ec) ? dir : std::string();
    }();
    return folder;
  }

  bool FromCompiled() {
    const std::string& folder = CompiledFolder();
    if (folder.empty()) return false;
    const char* old = std::getenv("LOCPATH");
    const std::string kept = old ? old : "";
    setenv("LOCPATH", folder.c_str(), 1);
    const bool set = std::setlocale(LC_ALL, kName) != nullptr;
    if (old) {
      setenv("LOCPATH", kept.c_str(), 1);
    } else {
      unsetenv("LOCPATH");
    }
    return set;
  }

  std::string before_ = "C";
  bool ok_ = false;
};

}  // namespace drivanto::testing
