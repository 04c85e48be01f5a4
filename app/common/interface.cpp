#include "interface.hpp"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cassert>
#include <cstdio>
#include <stdexcept>

namespace tilvex::cli {
namespace {

const Option* find_option(const Interface& in, const std::string& name) {
  for (const Option& o : in.options)
    if (o.name == name) return &o;
  return nullptr;
}

// An item as the usage shows it: "--part K/N", "[--resume | --again]".
std::string item_text(const Interface& in, const Item& item) {
  std::string text;
  for (const std::string& name : item.names) {
    if (!text.empty()) text += " | ";
    text += name;
    if (const Option* o = find_option(in, name)) {
      for (const std::string& v : o->values) text += " " + v;
    } else if (std::none_of(in.operands.begin(), in.operands.end(),
                            [&](const Operand& operand) { return operand.name == name; })) {
      throw std::logic_error(in.program + ": the synopsis names '" + name + "', which is neither option nor operand");
    }
  }
  return item.optional ? "[" + text + "]" : text;
}

// A synopsis line: "tilvex-plot --map TABLE.tsv ...", wrapped within
// `width` columns after `lead` (0: not wrapped).
std::string synopsis_line(const Interface& in, const std::vector<Item>& line, const std::string& lead,
                          std::size_t width) {
  std::string text = lead + in.program, row = text;
  const std::string indent(text.size() + 1, ' ');
  for (const Item& item : line) {
    const std::string piece = item_text(in, item);
    if (width != 0 && row.size() > indent.size() && row.size() + 1 + piece.size() > width) {
      text += "\n" + indent + piece;
      row = indent + piece;
    } else {
      text += " " + piece;
      row += " " + piece;
    }
  }
  return text + "\n";
}

// An option that stands among others and is in no synopsis line would be
// missing from the usage, and from the man page that is checked against it.
void check_synopsis(const Interface& in) {
  for (const Option& o : in.options) {
    bool shown = o.placing == Placing::alone;
    for (const auto& line : in.synopsis)
      for (const Item& item : line) shown = shown || std::count(item.names.begin(), item.names.end(), o.name) > 0;
    if (!shown) throw std::logic_error(in.program + ": " + o.name + " is in no synopsis line");
  }
}

std::string synopsis(const Interface& in, std::size_t width) {
  check_synopsis(in);
  std::string text;
  for (std::size_t i = 0; i < in.synopsis.size(); ++i)
    text += synopsis_line(in, in.synopsis[i], i == 0 ? "usage: " : "       ", width);
  return text;
}

// Reads a command line with CLI11, keeping the order of the arguments: each
// option reports itself when it is read (trigger_on_parse), and what CLI11
// set aside before it (operands, unknown options) goes first.
class Reader {
 public:
  Reader(const Interface& in, const std::vector<std::string>& args)
      : args_(args), pending_(args.rbegin(), args.rend()) {
    app_.set_help_flag();  // no -h or --help of CLI11's own
    app_.allow_extras();   // operands and unknown options are set aside, in order
    for (const Option& o : in.options) {
      // Options that stand alone or first take nothing here: they are only
      // recognised, to be refused where they stand.
      const int count = o.placing == Placing::anywhere ? static_cast<int>(o.values.size()) : 0;
      // CLI11 reads "-sx" as the flag -s and then "-x", an argument more
      // than the line had, which the counting below does not follow.
      if (!o.name.starts_with("--") && count == 0)
        throw std::logic_error(in.program + ": " + o.name + ": a short option must take a value");
      CLI::Option* option = app_.add_option(
          o.name, [this, &o](const CLI::results_t& values) { return met(o, values); }, o.help);
      // type_size: the values are taken whatever they look like; a flag
      // takes none.
      if (count == 0)
        option->expected(0);
      else
        option->type_size(count)->expected(1);
      option->trigger_on_parse();
    }
  }

  std::vector<Word> read(const Interface& in) {
    try {
      app_.parse(pending_);  // expects the arguments reversed
    } catch (const CLI::ParseError&) {
      // The line ended before an option had all its values.
      set_aside();
      if (at_ < args_.size()) words_.push_back(unfinished(in));
      return words_;
    }
    set_aside();
    return words_;
  }

 private:
  // The arguments CLI11 set aside since the last word, each a word of its own.
  void set_aside() {
    const std::vector<std::string> aside = app_.remaining();
    for (; taken_ < aside.size(); ++taken_, ++at_) {
      assert(aside[taken_] == args_[at_]);
      words_.push_back({nullptr, aside[taken_], {}});
    }
  }

  // An option read with its values: it began at the first argument no word
  // holds yet, and CLI11 has consumed the arguments up to `pending_`.
  bool met(const Option& o, const CLI::results_t& values) {
    set_aside();
    const std::string& given = args_[at_];
    const bool in_place = o.placing == Placing::anywhere || (o.placing == Placing::alone && args_.size() == 1);
    if (given == o.name && in_place)
      words_.push_back({&o, given, o.values.empty() ? std::vector<std::string>{} : values});
    else  // "--jobs=4", "-oOUT.svg", "--help" among others: names no option
      words_.push_back({nullptr, given, {}});
    at_ = args_.size() - pending_.size();
    return true;
  }

  // The option whose values the line ended before.
  Word unfinished(const Interface& in) const {
    const Option* o = find_option(in, args_[at_]);
    if (o == nullptr || o->placing != Placing::anywhere) return {nullptr, args_[at_], {}};
    return {o, args_[at_], {args_.begin() + static_cast<std::ptrdiff_t>(at_) + 1, args_.end()}};
  }

  CLI::App app_;
  const std::vector<std::string>& args_;
  std::vector<std::string> pending_;
  std::vector<Word> words_;
  std::size_t taken_ = 0;  // of CLI11's remaining(), in words_
  std::size_t at_ = 0;     // of args_, in words_
};

}  // namespace

std::string usage(const Interface& in) { return synopsis(in, 0); }

std::string help(const Interface& in) {
  std::vector<std::pair<std::string, std::string>> rows;
  for (const Operand& o : in.operands) rows.push_back({o.name, o.help});
  for (const Option& o : in.options) {
    std::string label = o.name;
    for (const std::string& v : o.values) label += " " + v;
    rows.push_back({label, o.help});
  }
  std::size_t column = 0;
  for (const auto& row : rows) column = std::max(column, row.first.size());
  std::string text = synopsis(in, 80) + "\n" + in.about + "\n";
  for (const auto& [label, line] : rows) text += "  " + label + std::string(column + 2 - label.size(), ' ') + line + "\n";
  return text + "\n" + in.manual;
}

std::vector<Word> read_words(const Interface& in, const std::vector<std::string>& args) {
  if (!args.empty())
    if (const Option* o = find_option(in, args[0]); o != nullptr && o->placing == Placing::first)
      return {{o, args[0], {args.begin() + 1, args.end()}}};
  return Reader(in, args).read(in);
}

const std::vector<std::string>& values(const Word& w) {
  if (w.values.size() < w.option->values.size()) refuse(w);
  return w.values;
}

void refuse(const Word& w) { throw Refusal{w.option->refusal}; }

Refusal not_an_option(const Interface& in, const Word& w) {
  if (find_option(in, w.text) != nullptr) return Refusal{};
  return Refusal{"unknown option " + w.text, true};
}

std::optional<int> conclude(const Interface& in, const Reading& r) {
  if (r.refusal) {
    if (!r.refusal->reason.empty())
      std::fprintf(stderr, "%s: %s\n", in.program.c_str(), r.refusal->reason.c_str());
    if (r.refusal->reason.empty() || r.refusal->usage) std::fputs(usage(in).c_str(), stderr);
    return 2;
  }
  if (r.alone == nullptr) return std::nullopt;
  if (r.alone->name == "--version")
    std::printf("%s %s\n", in.program.c_str(), TILVEX_VERSION);
  else
    std::fputs(help(in).c_str(), stdout);
  return 0;
}

}  // namespace tilvex::cli
