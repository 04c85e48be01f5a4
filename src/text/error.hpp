#pragma once
// The one way library code fails: it throws an Error carrying the parts of
// the message; only a program's main prints them and chooses the status.
// Library code never prints and never exits. Two kinds of answer are not
// failures and are returned instead: a check whose finding is the common
// case returns its reason in words, empty where nothing is wrong (an input
// that is not a resample results file, the settings, a table's name), and
// the files layer answers as the system calls it wraps do (a bool, with
// errno or why()), its append with an AppendOutcome that names the file
// that could not be written.

#include <stdexcept>
#include <string>

namespace tilvex::inline detail {

class Error : public std::runtime_error {
 public:
  // `reason`: for standard error, after the program's name ("cannot open
  // 'x': No such file or directory"). `fixed`: the fixed message of
  // tilvex's interface for standard output ("unable to open x"), or empty.
  // `status`: the exit status the program gives it.
  Error(std::string reason, int status = 1, std::string fixed = {})
      : std::runtime_error(reason), reason_(std::move(reason)), fixed_(std::move(fixed)), status_(status) {}

  const std::string& reason() const { return reason_; }
  const std::string& fixed() const { return fixed_; }
  int status() const { return status_; }

 private:
  std::string reason_, fixed_;
  int status_;
};

}  // namespace tilvex::inline detail
