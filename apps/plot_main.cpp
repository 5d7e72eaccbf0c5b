// drivanto-plot: the charts of a run drawn into a PNG or SVG file, without a
// window: from a step trace (drivanto-batch --trace) or from result files 1
// and 2.

#include <QApplication>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include "base/Errors.h"
#include "base/Files.h"
#include "base/Text.h"
#include "base/Version.h"
#include "qt/Charts.h"

namespace {

const char* const kHelp = R"(Usage: drivanto-plot [options] INPUT [INPUT2] -o FILE.png|FILE.svg

Draws the charts of a run, one above the other, without a window, all against
driven time: speed, requested speed and the cycle's speed (km/h); used
capacity (%), battery voltage (V) and current (A); charging current (A) and
engine power (kW), with the time charging is on shaded; fuel used (l) and CO,
NOx, HC (g). Each unit has an axis of its own. INPUT is a step trace
(drivanto-batch --trace FILE.csv) or result file 1 and/or result file 2
(INPUT2): a quantity the files do not hold is left out of its chart and its
legend. Where the time goes back (a run resumed from an earlier point and
written on), a line starts anew. A line is drawn with the points the picture's
width can show: every peak stays, an SVG stays small.

Options:
  -o FILE          the picture: .png or .svg (needed); never one of the inputs
  --charts LIST    which charts, in order: speed,battery,charging,emissions
                   (default: all four)
  --size WxH       the picture's size in pixels (default 1000x1400)
  --lang en|sv     the language of titles, axes and legends, with the decimal
                   point (en) or comma (sv); default English, Swedish when the
                   locale (LC_ALL, else LC_MESSAGES, else LANG) begins with sv
  --title TEXT     the SVG's title (default: the input's name)
  --help           print this text
  --version        print the version

Exit codes: 0 drawn; 1 an input that cannot be read or a picture that cannot
be written; 2 a usage error.
)";

int Usage(const std::string& message) {
  std::cerr << "drivanto-plot: " << message << "\n(see drivanto-plot --help)\n";
  return 2;
}

bool EndsWith(const std::string& s, const std::string& end) {
  return s.size() >= end.size() && s.compare(s.size() - end.size(), end.size(), end) == 0;
}

// The language of the user's locale, as the C library chooses the one of
// messages: LC_ALL, else LC_MESSAGES, else LANG, the first that is set.
drivanto::ChartLanguage LanguageOfLocale() {
  for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char* value = std::getenv(name);
    if (value && *value) {
      return std::string(value).rfind("sv", 0) == 0 ? drivanto::ChartLanguage::Swedish
                                                    : drivanto::ChartLanguage::English;
    }
  }
  return drivanto::ChartLanguage::English;
}

// The toolkit's own notes (no XDG_RUNTIME_DIR, fonts, ...) concern no one
// who draws a picture without a window; its critical errors still show. The
// program's own messages do not pass through here.
void QuietToolkit(QtMsgType type, const QMessageLogContext&, const QString& message) {
  if (type == QtCriticalMsg || type == QtFatalMsg) {
    std::cerr << "drivanto-plot: " << message.toLocal8Bit().constData() << "\n";
  }
}

// Whether two names are the same file (an output not yet there is none).
bool SameFile(const std::string& a, const std::string& b) {
  std::error_code ec;
  return std::filesystem::equivalent(a, b, ec) && !ec;
}

}  // namespace

int main(int argc, char** argv) {
  // No display is needed.
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  std::vector<std::string> args(argv + 1, argv + argc);
  std::vector<std::string> inputs;
  std::string output, title;
  std::vector<drivanto::ChartKind> kinds = drivanto::AllChartKinds();
  int width = 1000, height = 1400;
  drivanto::ChartLanguage language = LanguageOfLocale();
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto value = [&]() -> const std::string* { return i + 1 < args.size() ? &args[++i] : nullptr; };
    if (a == "--help" || a == "-h") {
      std::cout << kHelp << "\n" << drivanto::kLicenceLine;
      return 0;
    } else if (a == "--version") {
      std::cout << "drivanto-plot " << drivanto::kVersion << "\n";
      return 0;
    } else if (a == "-o") {
      const std::string* v = value();
      if (!v) return Usage("-o needs a file name");
      output = *v;
    } else if (a == "--title") {
      const std::string* v = value();
      if (!v) return Usage("--title needs a text");
      title = *v;
    } else if (a == "--lang") {
      const std::string* v = value();
      if (v && *v == "en") {
        language = drivanto::ChartLanguage::English;
      } else if (v && *v == "sv") {
        language = drivanto::ChartLanguage::Swedish;
      } else {
        return Usage("--lang takes en or sv");
      }
    } else if (a == "--charts") {
      const std::string* v = value();
      if (!v) return Usage("--charts needs a list");
      kinds.clear();
      std::size_t start = 0;
      for (;;) {
        const std::size_t comma = v->find(',', start);
        const std::string name =
            v->substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        drivanto::ChartKind kind;
        if (!drivanto::ChartKindByName(name, &kind)) {
          return Usage("unknown chart \"" + name + "\" (speed, battery, charging, emissions)");
        }
        kinds.push_back(kind);
        if (comma == std::string::npos) break;
        start = comma + 1;
      }
    } else if (a == "--size") {
      const std::string* v = value();
      char x = 0;
      if (!v || std::sscanf(v->c_str(), "%d%c%d", &width, &x, &height) != 3 || x != 'x' ||
          width < 100 || height < 100 || width > 20000 || height > 20000) {
        return Usage("--size takes WxH, 100 to 20000 pixels each");
      }
    } else if (!a.empty() && a[0] == '-') {
      return Usage("unknown option " + a);
    } else {
      inputs.push_back(a);
    }
  }
  if (inputs.empty() || inputs.size() > 2) return Usage("one trace, or one or two result files");
  if (output.empty()) return Usage("no -o FILE given");
  const bool svg = EndsWith(output, ".svg") || EndsWith(output, ".SVG");
  if (!svg && !EndsWith(output, ".png") && !EndsWith(output, ".PNG")) {
    return Usage("the picture must be a .png or an .svg file");
  }
  // A picture larger than the files may grow is an error to report, not a
  // signal that ends the program.
  std::signal(SIGXFSZ, SIG_IGN);
  qInstallMessageHandler(QuietToolkit);
  QApplication app(argc, argv);
  try {
    // A result file's second line is a rule of dashes; a trace's first line
    // is its header of names.
    auto isResult = [](const std::string& file) {
      const std::vector<std::string> lines =
          drivanto::SplitLines(drivanto::ReadFileBytes(file).substr(0, 4096));
      return lines.size() > 1 && lines[1].rfind("----------", 0) == 0;
    };
    auto isFirst = [](const std::string& file) {
      return drivanto::ReadFileBytes(file).rfind("1 Varvt", 0) == 0;
    };
    // The picture never replaces what it is drawn from.
    auto refuseToReplace = [&output](const std::string& input, const std::string& role) {
      if (SameFile(output, input)) {
        throw drivanto::IoError(
            output, 0, "is " + role + " the charts are drawn from; the picture needs another name");
      }
    };
    drivanto::RunHistory history;
    if (!isResult(inputs[0])) {
      if (inputs.size() > 1) return Usage("a trace comes alone");
      refuseToReplace(inputs[0], "the trace");
      history = drivanto::HistoryFromTrace(inputs[0]);
    } else {
      std::string first, second;
      for (const std::string& in : inputs) (isFirst(in) ? first : second) = in;
      if (!first.empty()) refuseToReplace(first, "result file 1");
      if (!second.empty()) refuseToReplace(second, "result file 2");
      history = drivanto::HistoryFromResultFiles(first, second);
    }
    drivanto::WriteChartsPicture(kinds, history, QSize(width, height),
                                 drivanto::PictureChartStyle(language, width), output,
                                 QString::fromStdString(title.empty() ? inputs[0] : title));
  } catch (const drivanto::IoError& e) {
    std::cerr << "drivanto-plot: " << e.what() << "\n";
    return 1;
  }
  return 0;
}
