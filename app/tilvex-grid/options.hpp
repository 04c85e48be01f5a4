#pragma once
// tilvex-grid's command line: the table of its operands and options (the
// usage, --help and the parser are made from it), and what a command line
// asks for.

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "common/interface.hpp"

namespace tilvex::grid_cli {

const cli::Interface& interface();

struct CommandLine : cli::Reading {
  bool recover = false;               // --recover FILE...
  std::vector<std::string> operands;  // GRID_LIST output_file confidence_level output_file2, or the FILEs
  std::optional<unsigned> jobs;       // 1 to 1024
  std::size_t part_k = 0, part_n = 1;
  std::string table;   // empty for none
  std::string netcdf;  // empty for none
  bool resume = false, again = false, quiet = false;
};

// Each option in turn, as given: its values checked where it stands (the
// first wrong one is refused); then four operands, and not both --resume
// and --again. An argument that starts with "--" and is no option here is
// refused with the usage; any other is an operand.
CommandLine read_command_line(const std::vector<std::string>& args);

}  // namespace tilvex::grid_cli
