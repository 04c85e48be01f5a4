// tilvex: confidence ranges of a bootstrapped tensor solution.
//
// tilvex FILE.vrin output_file confidence_level output_file2 xgrid ygrid zgrid tgrid
//
// Appends one summary line to output_file and one line per accepted resample
// to output_file2. Exit statuses: 0 done; -9001 usage; -9002 input not
// opened or not read; -9003 output_file not opened or not written; -4
// output_file2 not opened or not written. Standard output carries those
// messages only; the reasons and warnings go to standard error.

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>

#include "arguments.hpp"
#include "files/input_file.hpp"
#include "files/result_files.hpp"
#include "formats/resample_results.hpp"
#include "run/in_place.hpp"
#include "text/notes.hpp"
#include "text/reader.hpp"
#include "text/words.hpp"

namespace {

constexpr int kUsage = -9001;
constexpr int kInput = -9002;
constexpr int kOutput = -9003;
constexpr int kOutput2 = -4;

constexpr const char* kUsageLine =
    "usage: tilvex.exe *.vrin output_file confidence_level output_file2 xgrid ygrid zgrid tgrid";

int usage() {
  std::puts(kUsageLine);
  return kUsage;
}

void say(const std::string& text) { std::fprintf(stderr, "tilvex: %s\n", text.c_str()); }
void warn(const std::string& note) {
  if (!note.empty()) say("warning: " + note);
}

// The fixed message on standard output, the reason on standard error.
int fail(const char* what, const std::string& name, int status, const std::string& why) {
  std::printf("unable to %s %s\n", what, name.c_str());
  say(why);
  return status;
}

std::string quoted(const std::string& name) { return "'" + name + "'"; }

int help() {
  std::printf(
      "%s\n\n"
      "Appends the confidence ranges of a bootstrapped tensor solution to two files.\n"
      "  *.vrin            the resample results file: the best fit, then every resample,\n"
      "                    two lines each (six tensor components; phi and three\n"
      "                    trend/plunge pairs in degrees)\n"
      "  output_file       gains one summary line: phi, then trend and plunge of each\n"
      "                    axis, each as best fit, lower and upper bound\n"
      "  confidence_level  a percentage, such as 95\n"
      "  output_file2      gains one line per accepted resample\n"
      "  xgrid ... tgrid   four integers that label the run in output_file2\n\n"
      "The manual: man tilvex (in the build tree: man build/tilvex.1).\n",
      kUsageLine);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace tilvex;
  // A file size limit or a closed pipe makes a write fail, which is
  // reported and undone, instead of ending the run half-way through it.
  std::signal(SIGXFSZ, SIG_IGN);
  std::signal(SIGPIPE, SIG_IGN);
  if (argc == 2 && std::strcmp(argv[1], "--help") == 0) return help();
  if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
    std::printf("tilvex %s\n", TILVEX_VERSION);
    return 0;
  }
  if (argc != 9) {
    say("expected 8 arguments, found " + std::to_string(argc - 1) + " (tilvex --help tells more)");
    return usage();
  }
  // Settings that do not read are refused before any file is touched.
  if (const std::string fault = settings_fault(); !fault.empty()) {
    say(fault);
    return usage();
  }

  const std::string input_name = app::file_name(argv[1]);
  InputFile input;
  if (!input.open(input_name))
    return fail("open", input_name, kInput, "cannot open " + quoted(input_name) + ": " + std::strerror(errno));
  if (!input.read()) {
    if (input.error() == ENOMEM)
      return fail("read", input_name, kInput,
                  input_name + ": out of memory after reading " + std::to_string(input.size()) + " bytes");
    return fail("read", input_name, kInput,
                "cannot read " + quoted(input_name) + ": " + std::strerror(input.error()));
  }
  if (input.text().empty()) return fail("read", input_name, kInput, quoted(input_name) + " is empty");
  if (const std::string why = formats::not_resample_results_file(input.text(), quoted(input_name)); !why.empty())
    return fail("read", input_name, kInput, why);
  if (first_line_too_long(input.text()))
    warn("the first line of " + quoted(input_name) +
         " holds more than six numbers; is it a resample results file?");

  const std::string output_name = app::file_name(argv[2]);
  ResultFile output;
  if (!output.open(output_name))
    return fail("open", output_name, kOutput,
                "cannot append to " + quoted(output_name) + ": " + output.why());
  if (input.is(output.descriptor()))
    return fail("open", output_name, kOutput,
                quoted(output_name) + " is the input file; the results go to other files");

  const auto level = app::confidence_level(argv[3]);
  const std::string output2_name = app::file_name(argv[4]);
  const char* const names[] = {"xgrid", "ygrid", "zgrid", "tgrid"};
  std::optional<int> index[4];
  for (int k = 0; k < 4; ++k) index[k] = app::grid_index(argv[5 + k]);
  if (!level) {
    say(std::string("confidence_level ") + quoted(argv[3]) + " is not a number");
    return usage();
  }
  for (int k = 0; k < 4; ++k) {
    if (!index[k]) {
      say(std::string(names[k]) + " " + quoted(argv[5 + k]) + " is not an int");
      return usage();
    }
  }

  ResultFile output2;
  if (!output2.open(output2_name))
    return fail("open", output2_name, kOutput2,
                "cannot append to " + quoted(output2_name) + ": " + output2.why());
  if (input.is(output2.descriptor()))
    return fail("open", output2_name, kOutput2,
                quoted(output2_name) + " is the input file; the results go to other files");

  // What the numbers were taken to mean, where that may surprise.
  const std::size_t level_used = level_length(argv[3]);
  warn(trailing_note("confidence_level", argv[3], level_used));
  warn(level_note(*level, first_word(std::string_view(argv[3]).substr(0, level_used))));
  for (int k = 0; k < 4; ++k) {
    std::size_t used = 0;
    read_int(argv[5 + k], &used);
    warn(trailing_note(names[k], argv[5 + k], used));
  }

  const RunTexts texts =
      analyse_in_place(input.bytes(), *level, Grid{*index[0], *index[1], *index[2], *index[3]});
  const Analysis& a = texts.analysis;
  warn(unread_note(input_name, a.unread_fields, a.first_unread_line, a.first_unread_field));
  const std::string_view summary[] = {texts.summary};
  AppendOptions options;
  options.last = true;  // from the commit on, the status must be 0 whatever signal comes
  const AppendOutcome appended = append_run(output, summary, output2, texts.lines.pieces(), options);
  if (appended.failed >= 0) {
    const bool second = appended.failed == 0;
    const std::string& name = second ? output2_name : output_name;
    return fail("write", name, second ? kOutput2 : kOutput,
                "cannot write to " + quoted(name) + ": " + reason(appended));
  }
  if (!output2.close())
    return fail("write", output2_name, kOutput2,
                "closing " + quoted(output2_name) + " failed after the append: " + std::strerror(errno));
  if (!output.close())
    return fail("write", output_name, kOutput,
                "closing " + quoted(output_name) + " failed after the append: " + std::strerror(errno));
  return 0;
}
