// tilvex: confidence ranges of a bootstrapped tensor solution.
//
// tilvex FILE.vrin output_file confidence_level output_file2 xgrid ygrid zgrid tgrid
//
// Appends one summary line to output_file and one line per accepted resample
// to output_file2. Exit statuses: 0 done; -9001 usage; -9002 input not
// opened or not read; -9003 output_file not opened or not written; -4
// output_file2 not opened or not written.

#include <csignal>
#include <cstdio>
#include <string>

#include "arguments.hpp"
#include "files/input_file.hpp"
#include "files/result_files.hpp"
#include "run/in_place.hpp"

namespace {

constexpr int kUsage = -9001;
constexpr int kInput = -9002;
constexpr int kOutput = -9003;
constexpr int kOutput2 = -4;

int usage() {
  std::puts(
      "usage: tilvex.exe *.vrin output_file confidence_level output_file2 xgrid ygrid zgrid "
      "tgrid");
  return kUsage;
}

int fail(const char* what, const std::string& name, int status) {
  std::printf("unable to %s %s\n", what, name.c_str());
  return status;
}

// An output that is the input itself would change the data.
int refuse_input(const std::string& name, int status) {
  std::fprintf(stderr, "tilvex: '%s' is the input file; the results go to other files\n",
               name.c_str());
  return fail("open", name, status);
}

}  // namespace

int main(int argc, char** argv) {
  using namespace tilvex;
  // A file size limit or a closed pipe makes a write fail, which is
  // reported and undone, instead of ending the run half-way through it.
  std::signal(SIGXFSZ, SIG_IGN);
  std::signal(SIGPIPE, SIG_IGN);
  if (argc != 9) return usage();

  const std::string input_name = app::file_name(argv[1]);
  InputFile input;
  if (!input.open(input_name)) return fail("open", input_name, kInput);
  if (!input.read() || input.text().empty()) return fail("read", input_name, kInput);

  const std::string output_name = app::file_name(argv[2]);
  ResultFile output;
  if (!output.open(output_name)) return fail("open", output_name, kOutput);
  if (input.is(output.descriptor())) return refuse_input(output_name, kOutput);

  const auto level = app::confidence_level(argv[3]);
  const std::string output2_name = app::file_name(argv[4]);
  const auto x = app::grid_index(argv[5]), y = app::grid_index(argv[6]),
             z = app::grid_index(argv[7]), t = app::grid_index(argv[8]);
  if (!level || !x || !y || !z || !t) return usage();

  ResultFile output2;
  if (!output2.open(output2_name)) return fail("open", output2_name, kOutput2);
  if (input.is(output2.descriptor())) return refuse_input(output2_name, kOutput2);

  const RunTexts texts = analyse_in_place(input.bytes(), *level, Grid{*x, *y, *z, *t});
  const std::string_view summary[] = {texts.summary};
  switch (append_run(output, summary, output2, texts.lines.pieces())) {
    case AppendFailure::output2: return fail("write", output2_name, kOutput2);
    case AppendFailure::output: return fail("write", output_name, kOutput);
    case AppendFailure::none: break;
  }
  // Appended: from here on the status must be 0, whatever signal comes.
  for (int s : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) std::signal(s, SIG_IGN);
  if (!output2.close()) return fail("write", output2_name, kOutput2);
  if (!output.close()) return fail("write", output_name, kOutput);
  return 0;
}
