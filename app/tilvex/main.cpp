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
#include <new>
#include <string>
#include <vector>

#include "arguments.hpp"
#include "files/input_file.hpp"
#include "files/posix.hpp"
#include "files/result_files.hpp"
#include "formats/health.hpp"
#include "formats/resample_results.hpp"
#include "run/in_place.hpp"
#include "run/together.hpp"
#include "text/error.hpp"
#include "text/notes.hpp"
#include "text/reader.hpp"
#include "text/words.hpp"

namespace {

constexpr int kUsage = -9001;
constexpr int kInput = -9002;
constexpr int kOutput = -9003;
constexpr int kOutput2 = -4;

constexpr const char* kIndexNames[] = {"xgrid", "ygrid", "zgrid", "tgrid"};

constexpr const char* kUsageLine =
    "usage: tilvex.exe *.vrin output_file confidence_level output_file2 xgrid ygrid zgrid tgrid";

void say(const std::string& text) { std::fprintf(stderr, "tilvex: %s\n", text.c_str()); }
void warn(const std::string& note) {
  if (!note.empty()) say("warning: " + note);
}

using tilvex::Error;

// What ends a run: the fixed message "unable to WHAT NAME" on standard
// output, the reason on standard error.
Error failure(const char* what, const std::string& name, int status, const std::string& why) {
  return Error(why, status, std::string("unable to ") + what + " " + name);
}

// A command line that does not read: the reason, then the usage line.
Error wrong(const std::string& why) { return Error(why, kUsage, kUsageLine); }

int report(const Error& e) {
  if (e.status() == kUsage) {
    say(e.reason());
    std::puts(e.fixed().c_str());
  } else {
    std::printf("%s\n", e.fixed().c_str());
    say(e.reason());
  }
  return e.status();
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

// The input, read whole, or the Error that ends the run.
void read_input(const std::string& name, tilvex::InputFile& input) {
  if (!input.open(name))
    throw failure("open", name, kInput, "cannot open " + quoted(name) + ": " + std::strerror(errno));
  // A large file is read as two halves at once where two processors may be used.
  const tilvex::InputFile::Together halves =
      tilvex::posix::usable_processors() >= 2 ? tilvex::InputFile::Together(tilvex::together) : nullptr;
  if (!input.read(halves)) {
    if (input.error() == ENOMEM)
      throw failure("read", name, kInput,
                    name + ": out of memory after reading " + std::to_string(input.size()) + " bytes");
    throw failure("read", name, kInput, "cannot read " + quoted(name) + ": " + std::strerror(input.error()));
  }
  if (input.text().empty()) throw failure("read", name, kInput, quoted(name) + " is empty");
  if (const std::string why = tilvex::formats::not_resample_results_file(input.text(), quoted(name));
      !why.empty())
    throw failure("read", name, kInput, why);
  if (tilvex::first_line_too_long(input.text()))
    warn("the first line of " + quoted(name) +
         " holds more than six numbers; is it a resample results file?");
}

// A result file opened for appending, never the input itself.
void open_output(const std::string& name, int status, const tilvex::InputFile& input,
                 tilvex::ResultFile& file) {
  if (!file.open(name))
    throw failure("open", name, status, "cannot append to " + quoted(name) + ": " + file.why());
  if (input.is(file.descriptor()))
    throw failure("open", name, status, quoted(name) + " is the input file; the results go to other files");
}

// The level and the grid indices, or the Error of a command line that does
// not read; what the numbers were taken to mean is warned of later.
struct Numbers {
  float level;
  tilvex::Grid grid;
};
Numbers read_numbers(char** argv) {
  const auto level = tilvex::app::confidence_level(argv[3]);
  std::optional<int> index[4];
  for (int k = 0; k < 4; ++k) index[k] = tilvex::app::grid_index(argv[5 + k]);
  if (!level) throw wrong(std::string("confidence_level ") + quoted(argv[3]) + " is not a number");
  for (int k = 0; k < 4; ++k)
    if (!index[k]) throw wrong(std::string(kIndexNames[k]) + " " + quoted(argv[5 + k]) + " is not an int");
  return {*level, tilvex::Grid{*index[0], *index[1], *index[2], *index[3]}};
}

void warn_of_numbers(char** argv, float level) {
  using namespace tilvex;
  const std::size_t level_used = level_length(argv[3]);
  warn(trailing_note("confidence_level", argv[3], level_used));
  warn(level_note(level, first_word(std::string_view(argv[3]).substr(0, level_used))));
  for (int k = 0; k < 4; ++k) {
    std::size_t used = 0;
    read_int(argv[5 + k], &used);
    warn(trailing_note(kIndexNames[k], argv[5 + k], used));
  }
}

// The run: analysed in place, appended to both files at once, closed.
void run(char** argv) {
  using namespace tilvex;
  // Settings that do not read are refused before any file is touched.
  if (const std::string fault = settings_fault(); !fault.empty()) throw wrong(fault);
  const std::string input_name = app::file_name(argv[1]);
  InputFile input;
  read_input(input_name, input);
  // Every argument reads before any output is opened, so that a wrong
  // command line creates no file.
  const Numbers numbers = read_numbers(argv);
  const std::string output_name = app::file_name(argv[2]);
  ResultFile output;
  open_output(output_name, kOutput, input, output);
  const std::string output2_name = app::file_name(argv[4]);
  ResultFile output2;
  open_output(output2_name, kOutput2, input, output2);
  warn_of_numbers(argv, numbers.level);

  // The file's health is judged as the analysis reads it; a first line too
  // wide was warned of as the input was read.
  formats::HealthWatch watch;
  // Memory that runs out in the analysis is told as running out after the
  // reading: nothing has been written yet.
  const RunTexts texts = [&] {
    try {
      return analyse_in_place(input.bytes(), numbers.level, numbers.grid,
                              {.watcher = &watch, .threads = posix::usable_processors()});
    } catch (const std::bad_alloc&) {
      throw failure("read", input_name, kInput,
                    input_name + ": out of memory after reading " + std::to_string(input.size()) + " bytes");
    }
  }();
  std::vector<formats::HealthNote> health = watch.notes(quoted(input_name));
  formats::add_unread(health, quoted(input_name), texts.analysis);
  for (const formats::HealthNote& note : health)
    if (note.code != "wide") warn(note.text);
  const std::string_view summary[] = {texts.summary};
  AppendOptions options;
  options.tell = say;
  options.last = true;  // from the commit on, the status must be 0 whatever signal comes
  const AppendOutcome appended = append_run(output, summary, output2, texts.pieces(), options);
  if (appended.failed >= 0) {
    const bool second = appended.file == &output2;
    const std::string& name = second ? output2_name : output_name;
    throw failure("write", name, second ? kOutput2 : kOutput,
                  "cannot write to " + quoted(name) + ": " + reason(appended));
  }
  if (!output2.close())
    throw failure("write", output2_name, kOutput2,
                  "closing " + quoted(output2_name) + " failed after the append: " + std::strerror(errno));
  if (!output.close())
    throw failure("write", output_name, kOutput,
                  "closing " + quoted(output_name) + " failed after the append: " + std::strerror(errno));
}

}  // namespace

int main(int argc, char** argv) {
  // A file size limit or a closed pipe makes a write fail, which is
  // reported and undone, instead of ending the run half-way through it.
  std::signal(SIGXFSZ, SIG_IGN);
  std::signal(SIGPIPE, SIG_IGN);
  if (argc == 2 && std::strcmp(argv[1], "--help") == 0) return help();
  if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
    std::printf("tilvex %s\n", TILVEX_VERSION);
    return 0;
  }
  try {
    if (argc != 9)
      throw wrong("expected 8 arguments, found " + std::to_string(argc - 1) + " (tilvex --help tells more)");
    run(argv);
  } catch (const Error& e) {
    return report(e);
  }
  return 0;
}
