// drivanto-plot: the charts of a run drawn into a PNG or SVG file, without a
// window: from a step trace (drivanto-batch --trace) or from result files 1
// and 2.

#include <QApplication>
#include <QImageWriter>
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "base/Errors.h"
#include "base/Files.h"
#include "base/Text.h"
#include "base/Version.h"
#include "shell/qt/Charts.h"

namespace {

const char* const kHelp = R"(Usage: drivanto-plot [options] INPUT [INPUT2] -o FILE.png|FILE.svg

Draws the charts of a run, one above the other, without a window: speed,
requested speed and the cycle's speed (km/h); used capacity (%), battery
voltage and current; charging, charging current and engine power; fuel and
CO, NOx, HC - all against driven time. INPUT is a step trace
(drivanto-batch --trace FILE.csv) or result file 1 and/or result file 2
(INPUT2): a quantity the files do not hold is left out of its chart.

Options:
  -o FILE          the picture: .png or .svg (needed)
  --charts LIST    which charts, in order: speed,battery,charging,emissions
                   (default: all four)
  --size WxH       the picture's size in pixels (default 1000x1400)
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

}  // namespace

int main(int argc, char** argv) {
  // No display is needed.
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  std::vector<std::string> args(argv + 1, argv + argc);
  std::vector<std::string> inputs;
  std::string output, title;
  std::vector<drivanto::ChartKind> kinds = drivanto::AllChartKinds();
  int width = 1000, height = 1400;
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
    drivanto::RunHistory history;
    if (!isResult(inputs[0])) {
      if (inputs.size() > 1) return Usage("a trace comes alone");
      history = drivanto::HistoryFromTrace(inputs[0]);
    } else {
      std::string first, second;
      for (const std::string& in : inputs) (isFirst(in) ? first : second) = in;
      history = drivanto::HistoryFromResultFiles(first, second);
    }
    const QSize size(width, height);
    if (svg) {
      drivanto::WriteChartsSvg(kinds, history, size, output,
                               QString::fromStdString(title.empty() ? inputs[0] : title));
    } else {
      const QImage image = drivanto::RenderCharts(kinds, history, size);
      if (!image.save(QString::fromStdString(output), "PNG")) {
        throw drivanto::IoError(output, 0, "cannot be written");
      }
    }
  } catch (const drivanto::IoError& e) {
    std::cerr << "drivanto-plot: " << e.what() << "\n";
    return 1;
  }
  return 0;
}
