#pragma once
// The toolkit's own texts (file dialogs, buttons) in Swedish, like the rest of
// the window.

#include <QString>
#include <string>

class QCoreApplication;

namespace drivanto {

class IoError;

// Installs the toolkit's Swedish translations where they are installed
// (Debian: qt6-translations-l10n). Returns whether they were found.
bool InstallSwedishTranslations(QCoreApplication& app);

// A failure of the program's core as the window says it: the file's name as
// it is, "rad N", and the reason in Swedish where it is one the core gives
// (else as it came).
QString SwedishMessage(const IoError& error);
// The same for a whole message "FILE[, line N]: REASON" of the core.
QString SwedishMessage(const std::string& message);
// A reason alone ("file not found" gives "filen finns inte"); an unknown one
// comes back as it is.
QString SwedishReason(const std::string& reason);

}  // namespace drivanto
