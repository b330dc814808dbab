#include "host/image/programs.h"

#include <signal.h>

#include <cerrno>

extern char** environ;

namespace hostreg {

namespace {

// Reads the child's output to its end; a stop signal ends a stoppable
// command at once.
void Collect(Platform& platform, long pid, int from, bool stoppable,
             ProgramResult& result) {
  char buffer[4096];
  for (;;) {
    if (stoppable && platform.PendingStop() != 0 && !result.stopped) {
      platform.Kill(pid, SIGKILL);
      result.stopped = true;
    }
    const long got = platform.Read(from, buffer, sizeof buffer);
    if (got > 0) {
      result.output.append(buffer, static_cast<size_t>(got));
    } else if (got == 0 || errno != EINTR) {
      return;
    }
  }
}

}  // namespace

std::vector<std::string> ChildEnvironment(const std::vector<std::string>& drop,
                                          const std::vector<std::string>& add) {
  std::vector<std::string> env;
  for (char** e = environ; *e != nullptr; ++e) {
    const std::string var = *e;
    bool keep = var.compare(0, 7, "LC_ALL=") != 0;
    for (const std::string& prefix : drop)
      keep = keep && var.compare(0, prefix.size(), prefix) != 0;
    if (keep) env.push_back(var);
  }
  env.insert(env.end(), add.begin(), add.end());
  env.push_back("LC_ALL=C");
  return env;
}

ProgramResult RunProgram(Platform& platform,
                         const std::vector<std::string>& argv,
                         const std::vector<std::string>& env,
                         const std::vector<int>& extra, bool stoppable) {
  ProgramResult result;
  int out[2];
  if (platform.Pipe(out) != 0) {
    result.status = errno;
    return result;
  }
  Platform::Launch launch{argv, env, {-1, out[1], out[1]}, true};
  launch.fds.insert(launch.fds.end(), extra.begin(), extra.end());
  long pid = 0;
  const int code = platform.Spawn(launch, pid);
  platform.Close(out[1]);
  if (code != 0) {
    platform.Close(out[0]);
    result.status = code;
    return result;
  }
  Collect(platform, pid, out[0], stoppable, result);
  platform.Close(out[0]);
  int status = -1;
  platform.Wait(pid, status);
  result.ran = true;
  result.status = status;
  return result;
}

std::string OneLine(std::string text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == ' '))
    text.pop_back();
  for (char& c : text)
    if (c == '\n') c = ';';
  return text;
}

}  // namespace hostreg
