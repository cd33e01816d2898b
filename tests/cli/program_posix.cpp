#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <stdexcept>

#include "program.h"
#include "test_support.h"

namespace sectorsieve::testing {

Output RunProgram(const std::vector<std::string>& args, const std::string& input) {
  const TempDir files;
  const std::string in = files / "in";
  const std::string out = files / "out";
  const std::string err = files / "err";
  WriteBytes(in, input);
  posix_spawn_file_actions_t actions;
  ::posix_spawn_file_actions_init(&actions);
  ::posix_spawn_file_actions_addopen(&actions, 0, in.c_str(), O_RDONLY, 0);
  ::posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT, 0644);
  ::posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT, 0644);
  std::vector<std::string> argv = {SECTORSIEVE_CLI};
  argv.insert(argv.end(), args.begin(), args.end());
  std::vector<char*> pointers;
  for (std::string& a : argv) pointers.push_back(a.data());
  pointers.push_back(nullptr);
  pid_t pid = 0;
  const int spawned =
      ::posix_spawn(&pid, SECTORSIEVE_CLI, &actions, nullptr, pointers.data(), environ);
  ::posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) throw std::runtime_error("cannot start " SECTORSIEVE_CLI);
  int status = 0;
  ::waitpid(pid, &status, 0);
  const std::string bytes = ReadBytes(out);
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, bytes, ReadBytes(err), bytes};
}

}  // namespace sectorsieve::testing
