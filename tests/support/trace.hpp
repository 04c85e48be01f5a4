#pragma once
// Running a program under ptrace and killing it at a chosen system call:
// the moments around each write, without a path in the program that only
// tests take.

#include <signal.h>
#include <sys/ptrace.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "run.hpp"

namespace tilvex::test {

struct Traced {
  long calls = 0;   // system calls entered before the end or the kill
  int status = -1;  // as finish() gives it
};

// Runs `program` with `args` (standard output to `out_path`, standard error
// to `err_path`), stopping at the entry of every system call, and sends
// SIGKILL at the entry of call number `kill_at` (from 0; never if
// negative), before that call runs.
inline Traced run_killed_at(const std::string& program, const std::vector<std::string>& args,
                            const std::string& out_path, const std::string& err_path, long kill_at) {
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    const int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int in = open("/dev/null", O_RDONLY);
    dup2(in, 0);
    dup2(out, 1);
    dup2(err, 2);
    // LeakSanitizer stops the world with ptrace itself, which fails in a
    // process that is already traced.
    const char* asan = getenv("ASAN_OPTIONS");
    setenv("ASAN_OPTIONS", (std::string(asan != nullptr ? asan : "") + ":detect_leaks=0").c_str(), 1);
    ptrace(PTRACE_TRACEME, 0, nullptr, nullptr);
    raise(SIGSTOP);
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  Traced t;
  int ws = 0;
  waitpid(pid, &ws, 0);  // stopped by its own SIGSTOP
  ptrace(PTRACE_SETOPTIONS, pid, nullptr,
         reinterpret_cast<void*>(static_cast<long>(PTRACE_O_TRACESYSGOOD | PTRACE_O_EXITKILL)));
  bool entering = true;
  int deliver = 0;
  for (;;) {
    ptrace(PTRACE_SYSCALL, pid, nullptr, reinterpret_cast<void*>(static_cast<long>(deliver)));
    deliver = 0;
    if (waitpid(pid, &ws, 0) < 0 || WIFEXITED(ws) || WIFSIGNALED(ws)) break;
    if (!WIFSTOPPED(ws)) continue;
    if (WSTOPSIG(ws) == (SIGTRAP | 0x80)) {  // a system call
      if (entering) {
        if (t.calls == kill_at) {
          kill(pid, SIGKILL);
          ptrace(PTRACE_CONT, pid, nullptr, nullptr);
          waitpid(pid, &ws, 0);
          break;
        }
        ++t.calls;
      }
      entering = !entering;
    } else if (WSTOPSIG(ws) != SIGTRAP) {
      deliver = WSTOPSIG(ws);  // a signal of its own: pass it on
    }
  }
  t.status = WIFEXITED(ws) ? WEXITSTATUS(ws) : 128 + WTERMSIG(ws);
  return t;
}

}  // namespace tilvex::test
