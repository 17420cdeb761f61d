#pragma once
// Other programs run by the tests: gps-monitor itself, and the real daemons and tools of the
// field (gpsd, mosquitto, openssl), their output going where the test wants it.

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

extern char** environ;

namespace quorvane::testing {

// Starts `arguments` (the program found on PATH unless a path is given) with standard input
// from /dev/null and its output to the files named, "/dev/null" to drop it or "" to leave it as
// the test's; its process id, or 0 when it could not be started.
inline pid_t SpawnProgram(std::vector<std::string> arguments, const std::string& out = "",
                          const std::string& err = "") {
  std::vector<char*> argv;
  for (auto& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  if (!out.empty()) {
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  }
  if (!err.empty()) {
    posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  }
  pid_t pid = 0;
  if (posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid = 0;
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

// Runs a program to its end, its output dropped; whether it succeeded.
inline bool RunProgram(std::vector<std::string> arguments) {
  const pid_t pid = SpawnProgram(std::move(arguments), "/dev/null", "/dev/null");
  int status = 0;
  return pid != 0 && ::waitpid(pid, &status, 0) == pid && WIFEXITED(status) &&
         WEXITSTATUS(status) == 0;
}

// Debian puts its daemons in /usr/sbin, which a PATH may lack.
inline std::string DaemonPath(const std::string& name) {
  const std::string in_sbin = "/usr/sbin/" + name;
  return ::access(in_sbin.c_str(), X_OK) == 0 ? in_sbin : name;
}

}  // namespace quorvane::testing
