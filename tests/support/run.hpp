#pragma once
// Running the built program from a test, and the files it leaves behind.

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace tilvex::test {

struct Outcome {
  int status = -1;     // exit status, 0 to 255
  std::string printed;  // everything written to standard output
};

inline std::string slurp(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

inline void spill(const std::filesystem::path& p, const std::string& text) {
  std::ofstream(p, std::ios::binary) << text;
}

struct Launch {
  const char* stdin_path = "/dev/null";
  long file_size_limit = -1;  // bytes, for RLIMIT_FSIZE; -1 for none
  std::string stderr_path = {};  // where standard error goes; kept if empty
  std::vector<std::string> env = {};  // NAME=VALUE settings added to the environment
  long memory_limit = -1;             // bytes of address space, for RLIMIT_AS; -1 for none
  std::string cwd = {};               // the folder it runs in; the test's own if empty
};

// Starts `program` with exactly `args`, standard output to `out_path`.
inline pid_t start(const std::string& program, const std::vector<std::string>& args,
                   const std::filesystem::path& out_path, const Launch& how = {}) {
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    const int in = open(how.stdin_path, O_RDONLY);
    const int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(in, 0);
    dup2(out, 1);
    if (!how.stderr_path.empty()) {
      const int err = open(how.stderr_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      dup2(err, 2);
    }
    for (const std::string& e : how.env) {
      const std::size_t eq = e.find('=');
      setenv(e.substr(0, eq).c_str(), e.substr(eq + 1).c_str(), 1);
    }
    if (!how.cwd.empty() && chdir(how.cwd.c_str()) != 0) _exit(127);
    if (how.memory_limit >= 0) {
      const rlimit limit{static_cast<rlim_t>(how.memory_limit), static_cast<rlim_t>(how.memory_limit)};
      setrlimit(RLIMIT_AS, &limit);
    }
    if (how.file_size_limit >= 0) {
      const rlimit limit{static_cast<rlim_t>(how.file_size_limit),
                         static_cast<rlim_t>(how.file_size_limit)};
      setrlimit(RLIMIT_FSIZE, &limit);
    }
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  return pid;
}

// The exit status of a started run, 0 to 255, or 128 + the signal.
inline int finish(pid_t pid) {
  int ws = 0;
  waitpid(pid, &ws, 0);
  return WIFEXITED(ws) ? WEXITSTATUS(ws) : 128 + WTERMSIG(ws);
}

// As finish, but kills the run if it has not ended within `seconds`
// (then the status is 128 + SIGKILL): a run that hangs fails the test
// instead of stalling it.
inline int finish_within(pid_t pid, double seconds) {
  for (int waited = 0; waited < seconds * 1000; waited += 5) {
    int ws = 0;
    if (waitpid(pid, &ws, WNOHANG) == pid) return WIFEXITED(ws) ? WEXITSTATUS(ws) : 128 + WTERMSIG(ws);
    usleep(5000);
  }
  kill(pid, SIGKILL);
  return finish(pid);
}

// Runs `program` with exactly `args` and waits for it.
inline Outcome run(const std::string& program, const std::vector<std::string>& args,
                   const std::filesystem::path& out_path, const Launch& how = {}) {
  Outcome o;
  o.status = finish(start(program, args, out_path, how));
  o.printed = slurp(out_path);
  return o;
}

inline Outcome run(const std::string& program, const std::vector<std::string>& args,
                   const std::filesystem::path& out_path, const char* stdin_path) {
  return run(program, args, out_path, Launch{stdin_path});
}

// Takes a write lock on the whole file open at `fd` at once, as another
// process would; false if someone else holds one.
inline bool lock_whole_file(int fd) {
  struct flock whole {};
  whole.l_type = F_WRLCK;
  whole.l_whence = SEEK_SET;
  return fcntl(fd, F_SETLK, &whole) == 0;
}

// Writes `text` to the FIFO once a reader opens it, waiting a minute at
// most: a program that never opens it fails the test instead of stalling it.
inline bool feed_fifo(const std::string& fifo, const std::string& text) {
  int fd = -1;
  for (int i = 0; fd < 0 && i < 6000; ++i) {
    fd = open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
    if (fd < 0) usleep(10000);
  }
  if (fd < 0) return false;
  fcntl(fd, F_SETFL, 0);
  const bool whole = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  close(fd);
  return whole;
}

// A fresh, empty directory for one test, removed with it.
class ScratchDir {
 public:
  ScratchDir() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "tilvex-test-XXXXXX").string();
    path_ = mkdtemp(tmpl.data());
  }
  ScratchDir(const ScratchDir&) = delete;  // a copy would remove it too
  ScratchDir& operator=(const ScratchDir&) = delete;
  ~ScratchDir() { std::filesystem::remove_all(path_); }
  const std::filesystem::path& path() const { return path_; }
  std::string operator/(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

// What one run of tilvex appends to fresh files, when it runs alone, for
// grid index `grid` 0 0 1.
struct Texts {
  std::string summary, lines;
};
inline Texts run_alone(const std::string& program, const std::string& input, const ScratchDir& dir,
                       const std::string& level, const std::string& grid) {
  const std::string out = dir / ("alone-" + grid + ".txt"), out2 = dir / ("alone2-" + grid + ".txt");
  run(program, {input, out, level, out2, grid, "0", "0", "1"}, dir / "stdout");
  Texts t{slurp(out), slurp(out2)};
  std::filesystem::remove(out);
  std::filesystem::remove(out2);
  return t;
}

}  // namespace tilvex::test
