#include "run/StartFolder.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "base/Files.h"

namespace drivanto {

namespace fs = std::filesystem;

namespace {

bool HasConstants(const fs::path& folder) {
  std::error_code ec;
  return fs::exists(ResolveCase((folder / "CONS.VAL").string()), ec);
}

}  // namespace

std::string BundledDataFolder() {
  const std::string self = ProgramFolder();
  if (!self.empty()) {
    const fs::path installed = (fs::path(self) / ".." / "share" / "drivanto").lexically_normal();
    if (HasConstants(installed)) return installed.string();
  }
  return DRIVANTO_DATA_DIR;
}

StartFolder ChooseStartFolder(const std::string& given) {
  if (!given.empty()) return {given, {}, {}};
  std::error_code ec;
  const fs::path here = fs::current_path(ec);
  if (!ec && HasConstants(here)) return {here.string(), {}, {}};
  const char* home = std::getenv("HOME");
  if (!home || !*home) {
    return {{},
            {},
            "no CONS.VAL in the current folder and no home folder (HOME) to copy the bundled "
            "default to"};
  }
  const fs::path mine = fs::path(home) / "Drivanto";
  if (HasConstants(mine)) return {mine.string(), {}, {}};
  const std::string bundled = BundledDataFolder();
  fs::create_directories(mine, ec);
  if (!ec)
    fs::copy(bundled, mine, fs::copy_options::recursive | fs::copy_options::skip_existing, ec);
  if (ec || !HasConstants(mine)) {
    return {{},
            {},
            "the bundled default (" + bundled + ") could not be copied to " + mine.string() +
                (ec ? ": " + ec.message() : std::string())};
  }
  // Installed files are read-only; the copy is the user's to change.
  for (const auto& entry : fs::recursive_directory_iterator(mine, ec)) {
    fs::permissions(entry.path(), fs::perms::owner_write, fs::perm_options::add, ec);
  }
  // The folder's name on a line of its own, so that a message box does not
  // break it where it wraps the sentence.
  return {mine.string(),
          "Standardbilen med konstanter, körcykler och bilder har kopierats till mappen\n\n" +
              mine.string() + "\n\nProgrammet arbetar där; resultatfilerna hamnar också där.",
          {}};
}

}  // namespace drivanto
