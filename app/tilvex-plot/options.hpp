#pragma once
// tilvex-plot's command line: the table of its operand and options (the
// usage, --help and the parser are made from it), and what a command line
// asks for.

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "common/interface.hpp"
#include "plot/map.hpp"
#include "plot/stereonet.hpp"
#include "tilvex/records.hpp"

namespace tilvex::plot_cli {

const cli::Interface& interface();

// One of three figures: `input` (ACCEPTED_FILE), `vrin` (with `level`) or
// `map` (with `slice`, `bars` and `field`); or a figure per point (`each`)
// or a page (`report`); empty strings for what is not given.
struct CommandLine : cli::Reading {
  std::string input, output, table, vrin, map;
  std::string each, report;  // --each DIR (with input and table), --report DIR (with table, input optional)
  std::optional<float> level;
  std::optional<Grid> grid;
  std::optional<std::pair<int, int>> slice;
  std::optional<plot::MapBars> bars;  // not given: SHmax, or axis 1 for a table without the stress columns
  plot::MapField field = plot::MapField::none;
  std::optional<plot::Contours> contours;  // not given: regions
  std::vector<double> levels;              // empty: the kind's defaults
  std::optional<std::string> title;
  bool sigma = false;
};

// Each option in turn, as given, its values checked; one ACCEPTED_FILE at
// most, which neither is empty nor starts with '-'; then exactly one figure,
// with only the options of its synopsis line. Anything else is refused with
// the usage.
CommandLine read_command_line(const std::vector<std::string>& args);

}  // namespace tilvex::plot_cli
