#pragma once
// A program's command line, described once: its operands, its options and
// the synopsis lines that combine them. The usage text, the --help text and
// the parser (CLI11) are made from that description; the man page's
// SYNOPSIS is checked against the usage text (tests/app/man_synopsis.sh).

#include <optional>
#include <string>
#include <vector>

namespace tilvex::cli {

// Where an option may stand on the command line.
enum class Placing {
  anywhere,  // before, between or after the operands, any number of times
  alone,     // only as the sole argument (--help, --version)
  first,     // only as the first argument; every argument after it is one of its values
};

struct Option {
  int key;                          // the program's own name for it (an enumerator)
  std::string name;                 // "--jobs", "-o"
  std::vector<std::string> values{};  // the name of each value it takes, as the usage shows it
  std::string help{};                 // one line of --help
  Placing placing = Placing::anywhere;
  std::string refusal{};  // said when its values are missing or wrong; empty: the usage
};

struct Operand {
  std::string name;  // as the usage shows it
  std::string help;  // one line of --help
};

// One item of a synopsis line: an operand, an option, or options that
// exclude each other ("[--resume | --again]"); in brackets when optional.
struct Item {
  std::vector<std::string> names;
  bool optional = false;
};

struct Interface {
  std::string program;
  std::string about;  // what the program does, whole lines, for --help
  std::vector<Operand> operands;
  std::vector<Option> options;
  std::vector<std::vector<Item>> synopsis;  // a line each
  std::string manual;                       // the last line of --help
};

// "usage: " and a line per synopsis line, as printed on a wrong command line.
std::string usage(const Interface& in);
// The synopsis lines within 80 columns, `about`, a line for each operand and
// option, and `manual`.
std::string help(const Interface& in);

// A wrong command line: `reason` goes to standard error after the
// program's name; without one, or with `usage`, the usage follows.
struct Refusal {
  std::string reason;
  bool usage = false;
};

// An argument of the command line, or an option with its values, in the
// order given.
struct Word {
  const Option* option = nullptr;   // null: an operand, or an argument that names no option here
  std::string text;                 // the argument as given
  std::vector<std::string> values;  // the option's values: fewer than it takes where the line ends
};

// The words of `args` (without the program's name), read by CLI11 with
// an option for each of `in`. Each value is an argument of its own, taken
// whatever it looks like; "--jobs=4", "-oOUT.svg", an option that stands
// where it may not and an unknown option are words without an option.
std::vector<Word> read_words(const Interface& in, const std::vector<std::string>& args);

// The values of an option word; its refusal where some are missing.
const std::vector<std::string>& values(const Word& w);
// Throws the refusal of an option word.
[[noreturn]] void refuse(const Word& w);
// The refusal of a word that stands where an option may and names none of
// `in` ("--title", "--jobs=2"): "unknown option --title" and the usage. An
// option of `in` out of its place (--help among others): the usage alone.
Refusal not_an_option(const Interface& in, const Word& w);

// What every command line may end in besides a run.
struct Reading {
  const Option* alone = nullptr;  // --help or --version, the sole argument
  std::optional<Refusal> refusal;
};

// Reads `args` into a Line (a Reading) with `take`, which is given the words
// in order and throws a Refusal where the command line is wrong.
template <class Line>
Line read(const Interface& in, const std::vector<std::string>& args, void (*take)(Line&, const std::vector<Word>&)) {
  Line line;
  try {
    const std::vector<Word> words = read_words(in, args);
    if (words.size() == 1 && words[0].option != nullptr && words[0].option->placing == Placing::alone)
      line.alone = words[0].option;
    else
      take(line, words);
  } catch (const Refusal& r) {
    line.refusal = r;
  }
  return line;
}

// Prints what a Reading ends in: a refusal on standard error (status 2),
// the help or the version on standard output (status 0). Nothing for a run.
std::optional<int> conclude(const Interface& in, const Reading& r);

}  // namespace tilvex::cli
