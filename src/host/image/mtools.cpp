#include "host/image/mtools.h"

#include <cerrno>
#include <cstring>

namespace hostreg {

namespace {

// Without the user's mtools settings, with the check of the volume's
// geometry off (images of any size are not the floppies it is meant for).
std::vector<std::string> Environment() {
  return ChildEnvironment({"MTOOLS"}, {"MTOOLS_SKIP_CHECK=1"});
}

// A unit's results travel from the process that ran it as records: the
// status, the output's length, the output.
void PutRecord(Platform& platform, int fd, const ProgramResult& result) {
  const int head[3] = {result.ran ? 1 : 0, result.status,
                       static_cast<int>(result.output.size())};
  WriteFully(platform, fd,
             std::string_view(reinterpret_cast<const char*>(head), sizeof head));
  WriteFully(platform, fd, result.output);
}

bool GetRecord(Platform& platform, int fd, ProgramResult& result) {
  int head[3];
  if (ReadFully(platform, fd, reinterpret_cast<char*>(head), sizeof head) !=
          static_cast<long>(sizeof head) ||
      head[2] < 0)
    return false;
  result.ran = head[0] != 0;
  result.status = head[1];
  result.output.assign(static_cast<size_t>(head[2]), '\0');
  return ReadFully(platform, fd, &result.output[0], result.output.size()) ==
         head[2];
}

}  // namespace

Mtools::Mtools(Platform& platform, int fd, uint64_t base,
               AfterWrite afterWrite)
    : platform_(platform),
      fd_(fd),
      base_(base),
      afterWrite_(std::move(afterWrite)) {}

bool Mtools::Available(Platform& platform, std::string& error) {
  for (const char* command : {"mattrib", "mcopy", "mdel", "mren"}) {
    if (platform.OnPath(command)) continue;
    error = std::string("mtools is missing (Debian package mtools): no ") +
            command + " on PATH";
    return false;
  }
  return true;
}

std::string Mtools::VolumePath(const std::string& dosPath) {
  std::string path = "::" + dosPath;
  for (char& c : path)
    if (c == '\\') c = '/';
  return path;
}

std::vector<std::string> Mtools::Words(
    const char* command, const FatVolume& volume,
    const std::vector<std::string>& args) const {
  std::vector<std::string> words{
      command, "-i",
      "/proc/self/fd/3@@" + std::to_string(base_ + volume.offset)};
  words.insert(words.end(), args.begin(), args.end());
  return words;
}

// A command that may have written the file: its changes go on where they
// must, whether it succeeded or not, as they would have on the image.
void Mtools::Written(Result& result) const {
  std::string error;
  if (!afterWrite_ || afterWrite_(error)) return;
  result.status = result.status == 0 ? 1 : result.status;
  result.output = error;
}

Mtools::Result Mtools::Run(const char* command, const FatVolume& volume,
                           const std::vector<std::string>& args,
                           bool writes) const {
  Result result = RunProgram(platform_, Words(command, volume, args),
                             Environment(), {fd_}, !writes);
  if (writes && result.ran) Written(result);
  return result;
}

std::vector<Mtools::Result> Mtools::Unit(
    const FatVolume& volume, const std::vector<Command>& commands) const {
  std::vector<Result> results;
  for (const Command& command : commands) {
    results.push_back(RunProgram(platform_,
                                 Words(command.name, volume, command.args),
                                 Environment(), {fd_}, false));
    if (!results.back().ran || results.back().status != 0) break;
  }
  return results;
}

// On a local copy the unit's commands change nothing that matters until
// their changes are put into the image, together; on the image itself
// they run in a process of their own that outlives this one.
std::vector<Mtools::Result> Mtools::RunTogether(
    const FatVolume& volume, const std::vector<Command>& commands) const {
  std::vector<Result> results;
  if (afterWrite_) {
    results = Unit(volume, commands);
    if (!results.empty() && results.back().ran) Written(results.back());
    return results;
  }
  int pipe[2];
  long pid = 0;
  if (platform_.Pipe(pipe) != 0) return {Result{false, errno, false, ""}};
  const int code = platform_.Detach(
      [&] {
        platform_.Close(pipe[0]);
        for (const Result& result : Unit(volume, commands))
          PutRecord(platform_, pipe[1], result);
        return 0;
      },
      pid);
  platform_.Close(pipe[1]);
  Result result;
  while (code == 0 && GetRecord(platform_, pipe[0], result))
    results.push_back(result);
  platform_.Close(pipe[0]);
  int status;
  if (code == 0) platform_.Wait(pid, status);
  if (code != 0) results = {Result{false, code, false, ""}};
  return results;
}

std::string Mtools::Failure(const char* command, const Result& result) {
  if (result.ran) return std::string(command) + ": " + OneLine(result.output);
  if (result.status == ENOENT)
    return "mtools is missing (Debian package mtools): cannot run " +
           std::string(command);
  return std::string("cannot run ") + command + ": " + Reason(result.status);
}

}  // namespace hostreg
