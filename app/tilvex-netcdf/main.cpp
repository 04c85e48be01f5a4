// tilvex-netcdf: a grid's table (tilvex-grid --table, or the parts of a
// cluster's grid merged) as the netCDF-4 file that tilvex-grid --netcdf
// writes.
//
// tilvex-netcdf TABLE FILE [--level L] [--list GRID_LIST]
//
// Exit statuses: 0 written; 1 the table cannot be read or is not one grid;
// 2 a bad command line, or FILE is the table or a file that is not a grid's
// netCDF file; 213 FILE cannot be written.

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "common/interface.hpp"
#include "formats/committed_file.hpp"
#include "formats/netcdf.hpp"
#include "formats/table.hpp"
#include "grid/record_file.hpp"
#include "grid/table_file.hpp"
#include "text/error.hpp"

namespace {

using namespace tilvex;

enum Key { kLevel, kList, kHelp, kVersion };

const cli::Interface kInterface{
    .program = "tilvex-netcdf",
    .about = "Writes a grid's table as the netCDF-4 file (CF conventions) that tilvex-grid --netcdf\n"
             "writes: for a grid run in parts and merged.\n",
    .operands = {{"TABLE", "the table tilvex-grid wrote (--table), parts concatenated"},
                 {"FILE", "the netCDF file, written whole and renamed into place"}},
    .options = {{.key = kLevel, .name = "--level", .values = {"L"},
                 .help = "the confidence level of the grid, for the file's attributes"},
                {.key = kList, .name = "--list", .values = {"GRID_LIST"},
                 .help = "the grid's list, for the file's attributes"},
                {.key = kHelp, .name = "--help", .help = "this text", .placing = cli::Placing::alone},
                {.key = kVersion, .name = "--version", .help = "the version", .placing = cli::Placing::alone}},
    .synopsis = {{{{"TABLE"}}, {{"FILE"}}, {{"--level"}, true}, {{"--list"}, true}}},
    .manual = "The manual: man tilvex-netcdf (in the build tree: man build/tilvex-netcdf.1).\n"};

struct CommandLine : cli::Reading {
  std::vector<std::string> operands;
  formats::GridAttributes attributes;
};

void take(CommandLine& line, const std::vector<cli::Word>& words) {
  for (const cli::Word& w : words) {
    if (w.option == nullptr) {
      if (w.text.starts_with("--")) throw cli::not_an_option(kInterface, w);
      line.operands.push_back(w.text);
    } else if (w.option->key == kLevel) {
      line.attributes.level = cli::values(w)[0];
    } else if (w.option->key == kList) {
      line.attributes.list = cli::values(w)[0];
    }
  }
  if (line.operands.size() != 2) throw cli::Refusal{};
  if (line.operands[1].empty()) throw cli::Refusal{"the netCDF file's name is empty"};
}

int run(CommandLine& line) {
  const std::string& table = line.operands[0];
  const std::string& file = line.operands[1];
  std::string text;
  try {
    text = formats::committed_text(table);
  } catch (const Error& e) {
    throw Error(e.reason(), 1);
  }
  const std::vector<formats::TableRow> rows = formats::read_table(text, table);
  if (std::string why = formats::netcdf_fault(rows); !why.empty()) throw Error(table + ": " + why, 1);
  if (std::string why = grid::netcdf_fault(file, table, {}, {}); !why.empty())
    throw Error(why.substr(why.find(' ') + 1), 2);  // without the option's name
  line.attributes.source = "tilvex-netcdf " TILVEX_VERSION;
  line.attributes.history = grid::utc_now() + " tilvex-netcdf from " + table;
  line.attributes.table = table;
  const std::string bytes = formats::grid_netcdf(rows, line.attributes);
  if (!grid::write_table(file, bytes, false)) throw Error("cannot write '" + file + "': " + std::strerror(errno), 213);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  CommandLine line = cli::read(kInterface, {argv + 1, argv + argc}, take);
  if (const auto status = cli::conclude(kInterface, line)) return *status;
  try {
    return run(line);
  } catch (const Error& e) {
    std::fprintf(stderr, "tilvex-netcdf: %s\n", e.reason().c_str());
    return e.status();
  }
}
