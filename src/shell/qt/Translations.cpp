#include "shell/qt/Translations.h"

#include <QCoreApplication>
#include <QHash>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

namespace drivanto {

namespace {

// The toolkit's texts of the file dialogs and message boxes that its own
// Swedish catalogue leaves in English.
class SwedishDialogTexts : public QTranslator {
 public:
  using QTranslator::QTranslator;
  bool isEmpty() const override { return false; }
  QString translate(const char* context, const char* source, const char* disambiguation,
                    int n) const override {
    (void)context;
    (void)disambiguation;
    (void)n;
    static const QHash<QString, QString> texts = {
        {"Look in:", "Sök i:"},
        {"File &name:", "Fil&namn:"},
        {"File name:", "Filnamn:"},
        {"Files of type:", "Filtyp:"},
        {"&Open", "&Öppna"},
        {"Open", "Öppna"},
        {"&Save", "&Spara"},
        {"Save", "Spara"},
        {"Save As", "Spara som"},
        {"&Choose", "&Välj"},
        {"Cancel", "Avbryt"},
        {"&Cancel", "&Avbryt"},
        {"OK", "OK"},
        {"&Yes", "&Ja"},
        {"&No", "&Nej"},
        {"Yes", "Ja"},
        {"No", "Nej"},
        {"Close", "Stäng"},
        {"Back", "Bakåt"},
        {"Forward", "Framåt"},
        {"Parent Directory", "Överordnad mapp"},
        {"Create New Folder", "Skapa ny mapp"},
        {"New Folder", "Ny mapp"},
        {"List View", "Listvy"},
        {"Detail View", "Detaljvy"},
        {"Name", "Namn"},
        {"Size", "Storlek"},
        {"Type", "Typ"},
        {"Kind", "Sort"},
        {"Date Modified", "Ändrad"},
        {"Computer", "Dator"},
        {"My Computer", "Den här datorn"},
        {"Directory:", "Mapp:"},
        {"&Rename", "&Byt namn"},
        {"&Delete", "&Ta bort"},
        {"Show &hidden files", "Visa &dolda filer"},
        {"All Files (*)", "Alla filer (*)"},
        {"Directories", "Mappar"},
        {"Recent Places", "Senaste platser"},
    };
    return texts.value(QString::fromUtf8(source));
  }
};

}  // namespace

bool InstallSwedishTranslations(QCoreApplication& app) {
  // The toolkit's catalogue first, then the texts it lacks (a translator
  // installed later is asked first; an empty answer passes on).
  auto* catalogue = new QTranslator(&app);
  const QString folder = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
  const QLocale swedish(QLocale::Swedish, QLocale::Sweden);
  const bool found = catalogue->load(swedish, "qtbase", "_", folder) ||
                     catalogue->load(swedish, "qt", "_", folder);
  if (found) {
    QCoreApplication::installTranslator(catalogue);
  } else {
    delete catalogue;
  }
  QCoreApplication::installTranslator(new SwedishDialogTexts(&app));
  return found;
}

}  // namespace drivanto
