#include "qt/Translations.h"

#include <QCoreApplication>
#include <QHash>
#include <QLibraryInfo>
#include <QLocale>
#include <QRegularExpression>
#include <QTranslator>
#include <utility>
#include <vector>

#include "base/Errors.h"
#include "base/Text.h"

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
        // The file list's kinds of entry.
        {"Folder", "Mapp"},
        {"Drive", "Enhet"},
        {"File", "Fil"},
        {"%1 File", "%1-fil"},
        {"File Folder", "Filmapp"},
        {"Alias", "Alias"},
        {"Shortcut", "Genväg"},
        {"Unknown", "Okänd"},
        {"&New Folder", "&Ny mapp"},
        {"&Show hidden files", "Visa &dolda filer"},
        {"Are you sure you want to delete '%1'?", "Vill du verkligen ta bort '%1'?"},
        {"%1 already exists.\nDo you want to replace it?", "%1 finns redan.\nVill du ersätta den?"},
        {"%1\nFile not found.\nPlease verify the correct file name was given.",
         "%1\nFilen finns inte.\nKontrollera att filnamnet är rätt."},
        {"%1\nDirectory not found.\nPlease verify the correct directory name was given.",
         "%1\nMappen finns inte.\nKontrollera att mappnamnet är rätt."},
        // The edit boxes' context menu.
        {"&Undo", "&Ångra"},
        {"&Redo", "&Gör om"},
        {"Cu&t", "Klipp &ut"},
        {"&Copy", "&Kopiera"},
        {"Copy &Link Location", "Kopiera &länkadress"},
        {"&Paste", "Klistra &in"},
        {"Delete", "Ta bort"},
        {"Select All", "Markera allt"},
        {"Insert Unicode control character", "Infoga Unicode-styrtecken"},
    };
    return texts.value(QString::fromUtf8(source));
  }
};

// The roles of files in the core's messages.
QString Role(const QString& role) {
  static const QHash<QString, QString> roles = {
      {"the constants file", "konstantfilen"},
      {"the battery table file", "batteritabellen"},
      {"the engine table file", "motortabellen"},
      {"the motor table file", "elmotortabellen"},
      {"the vehicle table file", "fordonstabellen"},
      {"the gearbox file", "växelfilen"},
      {"the brake table file", "bromstabellen"},
      {"the time cycle", "tidcykeln"},
      {"the map cycle", "kartcykeln"},
      {"the time-cycle file", "tidcykelfilen"},
      {"the map-cycle file", "kartcykelfilen"},
      {"the efficiency-map picture", "bilden av verkningsgradskartan"},
      {"the snapshot", "ögonblicksbilden"},
      {"the drive recording", "inspelningen av körningen"},
      {"result file 1", "resultatfil 1"},
      {"result file 2", "resultatfil 2"},
  };
  return roles.value(role, role);
}

struct Rule {
  QRegularExpression english;
  // The Swedish text from the captures; nullptr: `swedish` with \1 ... .
  QString swedish;
  QString (*make)(const QRegularExpressionMatch&) = nullptr;
};

const std::vector<Rule>& Rules() {
  auto exact = [](const char* en, const char* sv) {
    return Rule{QRegularExpression(
                    QRegularExpression::anchoredPattern(QRegularExpression::escape(en))),
                QString::fromUtf8(sv)};
  };
  auto pattern = [](const char* en, const char* sv) {
    return Rule{QRegularExpression(QRegularExpression::anchoredPattern(en)), QString::fromUtf8(sv)};
  };
  static const std::vector<Rule> rules = {
      exact("file not found", "filen finns inte"),
      exact("access denied", "åtkomst nekas"),
      exact("is a folder, not a file", "är en mapp, inte en fil"),
      exact("a part of the path is not a folder", "en del av sökvägen är inte en mapp"),
      exact("disk full", "disken är full"),
      exact("read-only file system", "filsystemet är skrivskyddat"),
      exact("file name too long", "filnamnet är för långt"),
      exact("invalid file name", "ogiltigt filnamn"),
      exact("file too large (the file-size limit is reached)",
            "filen är för stor (gränsen för filstorlek är nådd)"),
      exact("disk quota exceeded", "diskkvoten är förbrukad"),
      exact("the file is not open", "filen är inte öppen"),
      exact("the name holds a character of code 0, which no file name can",
            "namnet innehåller ett tecken med kod 0, vilket inget filnamn kan"),
      exact("saved as UTF-16; save it as plain text (Windows code page or UTF-8)",
            "sparad som UTF-16; spara den som vanlig text (Windows teckentabell eller UTF-8)"),
      exact("not a bitmap file", "inte en BMP-bild"),
      exact("compressed bitmaps are not supported", "komprimerade BMP-bilder kan inte läsas"),
      exact("unsupported number of bits per pixel", "antalet bitar per bildpunkt kan inte läsas"),
      exact("invalid picture size", "ogiltig bildstorlek"),
      exact("Invalid numeric input", "ogiltigt tal"),
      exact("not a snapshot: the file holds binary data",
            "inte en ögonblicksbild: filen innehåller binära data"),
      pattern(R"(not a snapshot: it holds (\d+) lines, a snapshot (\d+))",
              "inte en ögonblicksbild: den har \\1 rader, en ögonblicksbild \\2"),
      pattern(R"(row (\d+) ends after (\d+) of its six numbers)",
              "rad \\1 slutar efter \\2 av sina sex tal"),
      pattern(R"re(row (\d+): "(.*)" is not a number \(column (\d+)\))re",
              "rad \\1: \"\\2\" är inget tal (kolumn \\3)"),
      exact("is being written by another run (a result file or trace is written by one run at "
            "a time; give this run another name)",
            "skrivs av en annan körning (en resultatfil eller ett spår skrivs av en körning i "
            "taget; ge den här körningen ett annat namn)"),
      exact("result file 1 and result file 2 are the same file; choose another name for one of "
            "them",
            "resultatfil 1 och resultatfil 2 är samma fil; välj ett annat namn för en av dem"),
      Rule{QRegularExpression(QRegularExpression::anchoredPattern(
               R"(([a-z0-9 -]+) and ([a-z0-9 -]+) are the same file; an output must not overwrite an input \(choose another name for ([a-z0-9 -]+)\))")),
           {},
           [](const QRegularExpressionMatch& m) {
             return Role(m.captured(1)) + " och " + Role(m.captured(2)) +
                    QString::fromUtf8(" är samma fil; det som skrivs får inte skriva över det "
                                      "som läses (välj ett annat namn för ") +
                    Role(m.captured(3)) + ")";
           }},
      Rule{QRegularExpression(QRegularExpression::anchoredPattern(
               R"(([a-z0-9 -]+) and ([a-z0-9 -]+) are the same file; each output needs a file of its own \(choose another name for ([a-z0-9 -]+)\))")),
           {},
           [](const QRegularExpressionMatch& m) {
             return Role(m.captured(1)) + " och " + Role(m.captured(2)) +
                    QString::fromUtf8(" är samma fil; allt som skrivs behöver en egen fil (välj "
                                      "ett annat namn för ") +
                    Role(m.captured(3)) + ")";
           }},
      Rule{QRegularExpression(QRegularExpression::anchoredPattern(
               R"((the constants file is empty|the constants file ends after line (\d+) \(line (\d+) is missing\)); a constants file holds (\d+) lines\. Reading the table files then failed: (.*))"),
               QRegularExpression::DotMatchesEverythingOption),
           {},
           [](const QRegularExpressionMatch& m) {
             const QString what =
                 m.captured(2).isEmpty()
                     ? QString::fromUtf8("konstantfilen är tom")
                     : QString::fromUtf8("konstantfilen slutar efter rad %1 (rad %2 saknas)")
                           .arg(m.captured(2), m.captured(3));
             return what + QString::fromUtf8("; en konstantfil har %1 rader. Sedan gick det "
                                             "inte att läsa tabellfilerna: ")
                               .arg(m.captured(4)) +
                    SwedishMessage(m.captured(5).toStdString());
           }},
      Rule{QRegularExpression(QRegularExpression::anchoredPattern(R"(((?:(?!: ).)*) while reading this file)")),
           {},
           [](const QRegularExpressionMatch& m) {
             return SwedishReason(m.captured(1).toStdString()) + QString::fromUtf8(" när filen lästes");
           }},
      exact("out of memory", "minnet räcker inte"),
      // A file a snapshot names where it is not, and found nowhere else.
      pattern(R"re(not found; the name comes from the snapshot (.*), line (\d+) \((\w+)\)\. Put the file there, or use the snapshot in a folder that holds (.*))re",
              "finns inte; namnet kommer från ögonblicksbilden \\1, rad \\2 (\\3). Lägg filen "
              "där, eller använd ögonblicksbilden i en mapp som har \\4"),
  };
  return rules;
}

// The reason in Swedish, or a null string when it is not one of the core's.
QString Translated(const QString& reason) {
  for (const Rule& rule : Rules()) {
    const QRegularExpressionMatch m = rule.english.match(reason);
    if (!m.hasMatch()) continue;
    if (rule.make) return rule.make(m);
    QString out = rule.swedish;
    for (int i = m.lastCapturedIndex(); i >= 1; --i) {
      out.replace(QString("\\%1").arg(i), m.captured(i));
    }
    return out;
  }
  return {};
}

QString FilePart(const std::string& file, int line) {
  QString text = file.empty() ? QString::fromUtf8("(en fil utan namn)")
                              : QString::fromStdString(Printable(file));
  if (line > 0) text += QString::fromUtf8(", rad %1").arg(line);
  return text;
}

}  // namespace

QString SwedishReason(const std::string& reason) {
  const QString english = QString::fromStdString(reason);
  const QString swedish = Translated(english);
  return swedish.isNull() ? english : swedish;
}

QString SwedishMessage(const IoError& error) {
  return FilePart(error.file(), error.line()) + ": " + SwedishReason(Printable(error.reason()));
}

QString SwedishMessage(const std::string& message) {
  // "FILE[, line N]: REASON": the first ": " after which a known reason
  // follows (a file's name may hold ": " too).
  const QString text = QString::fromStdString(message);
  static const QRegularExpression line(R"(, line (\d+)$)");
  for (qsizetype at = text.indexOf(": "); at >= 0; at = text.indexOf(": ", at + 1)) {
    const QString swedish = Translated(text.mid(at + 2));
    if (swedish.isNull()) continue;
    QString file = text.left(at);
    file.replace(line, QString::fromUtf8(", rad \\1"));
    return file + ": " + swedish;
  }
  const QString whole = Translated(text);
  return whole.isNull() ? text : whole;
}

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
