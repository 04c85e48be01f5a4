// tilvex-kill-trials: SIGKILL at random moments of the append of large
// runs, and SIGSTOP then SIGKILL, then one normal run after each; counts
// cut lines, partial or orphan blocks and changed old bytes (all must be 0).
//
//   tilvex-kill-trials [RESAMPLES [KILLS [STOPS]]]   (default 1000000 300 50)
//
// Each kill lands while the run appends: after its journal appears, within
// the time an append takes.

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "spawn.hpp"

namespace {

namespace fs = std::filesystem;

std::string slurp(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void spill(const fs::path& p, const std::string& text) { std::ofstream(p, std::ios::binary) << text; }

pid_t start(const std::vector<std::string>& args, const std::string& out) {
  int failed = 0;
  const pid_t pid = tilvex::bench::spawn_to(args, out, failed, "/dev/null");
  if (pid == 0) {  // a pid of 0 would make kill() stop this very process group
    std::fprintf(stderr, "tilvex-kill-trials: cannot start %s: %s\n", args[0].c_str(), std::strerror(failed));
    std::exit(1);
  }
  return pid;
}

int finish(pid_t pid) {
  int ws = 0;
  waitpid(pid, &ws, 0);
  return WIFEXITED(ws) ? WEXITSTATUS(ws) : 128 + WTERMSIG(ws);
}

}  // namespace

int main(int argc, char** argv) {
  const std::string n = argc > 1 ? argv[1] : "1000000";
  const int kills = argc > 2 ? std::atoi(argv[2]) : 300, stops = argc > 3 ? std::atoi(argv[3]) : 50;
  const fs::path dir = fs::temp_directory_path() / ("tilvex-kills-" + std::to_string(getpid()));
  fs::create_directories(dir);
  const std::string input = (dir / "big.vrin").string(), out = (dir / "out.txt").string(),
                    out2 = (dir / "out2.txt").string(), journal = (dir / ".out2.txt.tilvex-journal").string();
  finish(start({TILVEX_GENERATE, n, "2026"}, input));
  const auto run_into = [&](const std::string& o, const std::string& o2, const char* grid) {
    return finish(start({TILVEX_BINARY, input, o, "95", o2, grid, "0", "0", "1"}, (dir / "stdout").string()));
  };
  // What each run appends alone, and how long an append takes.
  run_into((dir / "k.txt").string(), (dir / "k2.txt").string(), "1");
  run_into((dir / "n.txt").string(), (dir / "n2.txt").string(), "2");
  const std::string killed = slurp(dir / "k.txt"), killed2 = slurp(dir / "k2.txt");
  const std::string normal = slurp(dir / "n.txt"), normal2 = slurp(dir / "n2.txt");
  const std::string old = "an earlier summary\n", old2 = std::string(100000, 'x') + "\n";
  const auto append_ms = [&] {
    spill(out, old);
    spill(out2, old2);
    const pid_t pid = start({TILVEX_BINARY, input, out, "95", out2, "1", "0", "0", "1"}, (dir / "stdout").string());
    while (!fs::exists(journal)) std::this_thread::sleep_for(std::chrono::microseconds(50));
    const auto t0 = std::chrono::steady_clock::now();
    while (fs::exists(journal)) std::this_thread::sleep_for(std::chrono::microseconds(50));
    finish(pid);
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
  }();

  std::mt19937 rng(2026);
  int committed = 0, rolled_back = 0, broken = 0, caught_in_append = 0;
  for (int trial = 0; trial < kills + stops; ++trial) {
    spill(out, old);
    spill(out2, old2);
    const pid_t pid = start({TILVEX_BINARY, input, out, "95", out2, "1", "0", "0", "1"}, (dir / "stdout").string());
    // Waits for the journal, without reaping the run (its pid must stay its own).
    siginfo_t info{};
    while (!fs::exists(journal) &&
           (waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) != 0 || info.si_pid == 0))
      std::this_thread::sleep_for(std::chrono::microseconds(20));
    std::this_thread::sleep_for(
        std::chrono::microseconds(static_cast<long>(std::uniform_real_distribution<double>(0, append_ms * 1000)(rng))));
    if (fs::exists(journal)) ++caught_in_append;
    if (trial >= kills) {
      kill(pid, SIGSTOP);
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    kill(pid, SIGKILL);
    finish(pid);
    run_into(out, out2, "2");
    const std::string o = slurp(out), o2 = slurp(out2);
    if (o == old + killed + normal && o2 == old2 + killed2 + normal2)
      ++committed;
    else if (o == old + normal && o2 == old2 + normal2)
      ++rolled_back;
    else
      ++broken;
  }
  std::printf("%s resamples, an append takes %.1f ms; %d SIGKILL and %d SIGSTOP+SIGKILL trials, "
              "%d of them while the journal was there:\n  %d committed whole, %d rolled back whole, "
              "%d with a cut line, a partial or orphan block, or changed old bytes\n",
              n.c_str(), append_ms, kills, stops, caught_in_append, committed, rolled_back, broken);
  fs::remove_all(dir);
  return broken == 0 ? 0 : 1;
}
