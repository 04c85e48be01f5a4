#pragma once
// Starting a program for the benchmarks: argv[0] with the arguments,
// standard output to a file, standard error to another where given.

#include <fcntl.h>
#include <spawn.h>
#include <unistd.h>

#include <string>
#include <vector>

extern char** environ;

namespace tilvex::bench {

// The pid of the program started, or 0 where it cannot be (`failed` then
// holds the error number).
inline pid_t spawn_to(const std::vector<std::string>& args, const std::string& out, int& failed,
                      const char* err = nullptr) {
  std::vector<char*> argv;
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_addopen(&fa, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (err != nullptr) posix_spawn_file_actions_addopen(&fa, 2, err, O_WRONLY, 0);
  pid_t pid = 0;
  failed = posix_spawn(&pid, argv[0], &fa, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&fa);
  return failed == 0 ? pid : 0;
}

}  // namespace tilvex::bench
