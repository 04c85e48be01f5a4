#include "options.hpp"

#include <cmath>
#include <cstdlib>
#include <string_view>

#include "text/words.hpp"

namespace tilvex::plot_cli {
namespace {

enum Key { kGrid, kTable, kEach, kReport, kVrin, kLevel, kMap, kSlice, kBars, kField, kContours, kLevels, kTitle, kSigma, kOutput,
           kHelp, kVersion };

using cli::Placing;

const cli::Interface kInterface{
    .program = "tilvex-plot",
    .about = "Figures of tilvex's results as standalone SVG, on standard output without -o:\n"
             "the accepted resamples of one grid point on a lower-hemisphere equal-area net,\n"
             "with the regions holding 50, 90 and 95% of each axis and a histogram of phi;\n"
             "or a map of a grid's table (SHmax and the faulting regime at each point);\n"
             "or, for a whole grid, a stereonet per point (--each) or an HTML page (--report).\n",
    .operands = {{"ACCEPTED_FILE", "the accepted resamples (tilvex's output_file2) to draw"}},
    .options = {{.key = kGrid, .name = "--grid", .values = {"X", "Y", "Z", "T"},
                 .help = "the grid point to draw, where the file holds several"},
                {.key = kTable, .name = "--table", .values = {"TABLE.tsv"},
                 .help = "the best fit from tilvex-grid's table"},
                {.key = kEach, .name = "--each", .values = {"DIR"},
                 .help = "a stereonet per point of the table, read in one pass, into DIR"},
                {.key = kReport, .name = "--report", .values = {"DIR"},
                 .help = "DIR/index.html: the map, the table and each point's stereonet"},
                {.key = kVrin, .name = "--vrin", .values = {"FILE.vrin"},
                 .help = "the same from a resample results file, analysed at --level"},
                {.key = kLevel, .name = "--level", .values = {"L"}, .help = "the confidence level, in per cent"},
                {.key = kMap, .name = "--map", .values = {"TABLE.tsv"},
                 .help = "one z/t slice of tilvex-grid's table: SHmax by regime"},
                {.key = kSlice, .name = "--slice", .values = {"Z", "T"},
                 .help = "the slice of the map, where the table holds several"},
                {.key = kBars, .name = "--bars", .values = {"shmax|axis1"},
                 .help = "SHmax (default) or axis 1 projected on the horizontal",
                 .refusal = "--bars takes shmax or axis1"},
                {.key = kField, .name = "--field", .values = {"aphi|phi"},
                 .help = "shade the map's cells by A-phi or phi (default: none)",
                 .refusal = "--field takes aphi or phi"},
                {.key = kContours, .name = "--contours", .values = {"regions|density|sigma"},
                 .help = "regions holding shares of the axes (default), density or Kamb sigma",
                 .refusal = "--contours takes regions, density or sigma"},
                {.key = kLevels, .name = "--levels", .values = {"L1,L2,..."},
                 .help = "the contours' levels: per cent, multiples of uniform or sigma",
                 .refusal = "--levels takes numbers above 0, separated by commas (per cent: below 100)"},
                {.key = kTitle, .name = "--title", .values = {"TEXT"},
                 .help = "the figure's title (default: the file's name and the point)"},
                {.key = kSigma, .name = "--sigma", .help = "call the axes \u03c3\u2081, \u03c3\u2082, \u03c3\u2083 (for a stress tensor)"},
                {.key = kOutput, .name = "-o", .values = {"OUT.svg"},
                 .help = "write the figure to OUT.svg, whole or not at all"},
                {.key = kHelp, .name = "--help", .help = "this text", .placing = Placing::alone},
                {.key = kVersion, .name = "--version", .help = "the version", .placing = Placing::alone}},
    .synopsis = {{{{"ACCEPTED_FILE"}}, {{"--grid"}, true}, {{"--table"}, true}, {{"--contours"}, true},
                  {{"--levels"}, true}, {{"--title"}, true}, {{"--sigma"}, true}, {{"-o"}, true}},
                 {{{"--vrin"}}, {{"--level"}}, {{"--grid"}, true}, {{"--contours"}, true}, {{"--levels"}, true},
                  {{"--title"}, true}, {{"--sigma"}, true}, {{"-o"}, true}},
                 {{{"--map"}}, {{"--slice"}, true}, {{"--bars"}, true}, {{"--field"}, true}, {{"--title"}, true},
                  {{"--sigma"}, true}, {{"-o"}, true}},
                 {{{"ACCEPTED_FILE"}}, {{"--table"}}, {{"--each"}}, {{"--contours"}, true}, {{"--levels"}, true},
                  {{"--sigma"}, true}},
                 {{{"--report"}}, {{"--table"}}, {{"ACCEPTED_FILE"}, true}, {{"--slice"}, true}, {{"--bars"}, true},
                  {{"--field"}, true}, {{"--contours"}, true}, {{"--levels"}, true}, {{"--sigma"}, true}}},
    .manual = "The manual: man tilvex-plot (in the build tree: man build/tilvex-plot.1).\n"};

// The option's values as ints written plainly; its refusal where one is not.
std::vector<int> whole_numbers(const cli::Word& w) {
  std::vector<int> numbers;
  for (const std::string& s : cli::values(w)) {
    std::size_t end = 0;
    const auto v = read_int(s, &end);
    if (!v || end != s.size()) cli::refuse(w);
    numbers.push_back(*v);
  }
  return numbers;
}

// "50,90,95": numbers above 0 (and below 100 as shares: checked once the
// kind of contours is known), at most 20; its refusal otherwise.
std::vector<double> levels(const cli::Word& w) {
  std::vector<double> out;
  std::string_view rest = cli::values(w)[0];
  while (true) {
    const std::size_t comma = rest.find(',');
    const std::string item(rest.substr(0, comma));
    char* end = nullptr;
    const double v = std::strtod(item.c_str(), &end);
    if (item.empty() || end != item.c_str() + item.size() || !(v > 0) || !std::isfinite(v) || out.size() == 20)
      cli::refuse(w);
    out.push_back(v);
    if (comma == std::string_view::npos) return out;
    rest.remove_prefix(comma + 1);
  }
}

void take_option(CommandLine& line, const cli::Word& w) {
  switch (w.option->key) {
    case kGrid: {
      const std::vector<int> v = whole_numbers(w);
      line.grid = Grid{v[0], v[1], v[2], v[3]};
      break;
    }
    case kSlice: {
      const std::vector<int> v = whole_numbers(w);
      line.slice = std::pair{v[0], v[1]};
      break;
    }
    case kLevel:
      if (!(line.level = read_level(cli::values(w)[0].c_str()))) cli::refuse(w);
      break;
    case kOutput: line.output = cli::values(w)[0]; break;
    case kTable: line.table = cli::values(w)[0]; break;
    case kEach: line.each = cli::values(w)[0]; break;
    case kReport: line.report = cli::values(w)[0]; break;
    case kVrin: line.vrin = cli::values(w)[0]; break;
    case kMap: line.map = cli::values(w)[0]; break;
    case kBars: {
      const std::string& v = cli::values(w)[0];
      if (v == "shmax") line.bars = plot::MapBars::shmax;
      else if (v == "axis1") line.bars = plot::MapBars::axis1;
      else cli::refuse(w);
      break;
    }
    case kField: {
      const std::string& v = cli::values(w)[0];
      if (v == "aphi") line.field = plot::MapField::aphi;
      else if (v == "phi") line.field = plot::MapField::phi;
      else cli::refuse(w);
      break;
    }
    case kContours: {
      const std::string& v = cli::values(w)[0];
      if (v == "regions") line.contours = plot::Contours::regions;
      else if (v == "density") line.contours = plot::Contours::density;
      else if (v == "sigma") line.contours = plot::Contours::sigma;
      else cli::refuse(w);
      break;
    }
    case kLevels: line.levels = levels(w); break;
    case kTitle: line.title = cli::values(w)[0]; break;
    case kSigma: line.sigma = true; break;
  }
}

void take(CommandLine& line, const std::vector<cli::Word>& words) {
  for (const cli::Word& w : words) {
    if (w.option != nullptr)
      take_option(line, w);
    else if (w.text.size() > 1 && w.text[0] == '-')
      throw cli::not_an_option(kInterface, w);
    else if (line.input.empty() && !w.text.empty() && w.text != "-")
      line.input = w.text;
    else
      throw cli::Refusal{};
  }
  const bool each = !line.each.empty(), report = !line.report.empty();
  if (each || report) {
    // ACCEPTED_FILE --table --each DIR; --report DIR --table [ACCEPTED_FILE]:
    // no point chosen, no file named, no title (each figure names its point).
    if (each + report != 1 || line.table.empty() || (each && line.input.empty()) || line.grid ||
        !line.output.empty() || line.title || !line.vrin.empty() || !line.map.empty() ||
        (each && (line.slice || line.bars || line.field != plot::MapField::none)))
      throw cli::Refusal{};
  }
  const bool accepted = !line.input.empty() && !report, vrin = !line.vrin.empty(), map = !line.map.empty() || report;
  if (accepted + vrin + map != 1 || (vrin && !line.level) || (map && !report && (line.grid || !line.table.empty())) ||
      (vrin && !line.table.empty()) || ((line.slice || line.bars || line.field != plot::MapField::none) && !map) ||
      (map && !report && (line.contours || !line.levels.empty())))
    throw cli::Refusal{};
  if (line.contours.value_or(plot::Contours::regions) == plot::Contours::regions)
    for (double v : line.levels)
      if (!(v < 100)) throw cli::Refusal{"--levels of regions are shares in per cent, below 100"};
}

}  // namespace

const cli::Interface& interface() { return kInterface; }

CommandLine read_command_line(const std::vector<std::string>& args) { return cli::read(kInterface, args, take); }

}  // namespace tilvex::plot_cli
