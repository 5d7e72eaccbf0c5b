#pragma once
// The toolkit's own texts (file dialogs, buttons) in Swedish, like the rest of
// the window.

class QCoreApplication;

namespace drivanto {

// Installs the toolkit's Swedish translations where they are installed
// (Debian: qt6-translations-l10n). Returns whether they were found.
bool InstallSwedishTranslations(QCoreApplication& app);

}  // namespace drivanto
