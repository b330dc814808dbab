#include "host/image/system_dat.h"

#include <sys/stat.h>

#include <fstream>
#include <iterator>

namespace hostreg {

namespace {

std::string InFolder(const std::string& folder, const char* name) {
  return (folder == "\\" ? folder : folder + "\\") + name;
}

bool Flag(char c, char letter, bool& flag) {
  flag = c == letter;
  return c == letter || c == ' ';
}

bool SameContents(const std::string& a, const std::string& b) {
  std::ifstream first(a, std::ios::binary), second(b, std::ios::binary);
  if (!first || !second) return false;
  return std::string(std::istreambuf_iterator<char>(first), {}) ==
         std::string(std::istreambuf_iterator<char>(second), {});
}

}  // namespace

bool ParseAttributes(std::string_view line, DosAttributes& a) {
  return line.size() > 8 && line.substr(0, 2) == "  " &&
         line.substr(3, 2) == "  " && Flag(line[2], 'A', a.archive) &&
         Flag(line[5], 'S', a.system) && Flag(line[6], 'H', a.hidden) &&
         Flag(line[7], 'R', a.readOnly);
}

SystemDatInImage::SystemDatInImage(const Mtools& mtools,
                                   const WindowsFolder& folder,
                                   const Platform& stop)
    : mtools_(mtools),
      folder_(folder),
      stop_(stop),
      path_(Mtools::VolumePath(InFolder(folder.path, "SYSTEM.DAT"))),
      temporary_(Mtools::VolumePath(InFolder(folder.path, kTemporaryName))) {}

std::string SystemDatInImage::Describe() const {
  return DosPath(folder_.volume.letter, InFolder(folder_.path, "SYSTEM.DAT"));
}

bool SystemDatInImage::Step(const char* command,
                            const std::vector<std::string>& args, bool writes,
                            std::string& error, std::string* output) {
  const Mtools::Result result =
      mtools_.Run(command, folder_.volume, args, writes);
  if (result.stopped) {
    error = "stopped";
    return false;
  }
  if (!result.ran || result.status != 0) {
    error = Mtools::Failure(command, result);
    return false;
  }
  if (output != nullptr) *output = result.output;
  return true;
}

bool SystemDatInImage::CopyOut(const std::string& copy, std::string& error) {
  std::string line;
  if (!Step("mattrib", {path_}, false, error, &line)) {
    if (error.find("not found") != std::string::npos)
      error =
          "no SYSTEM.DAT in " + DosPath(folder_.volume.letter, folder_.path);
    return false;
  }
  if (!ParseAttributes(line, attributes_)) {
    error = "cannot read the attributes of " + Describe() +
            " in mattrib's answer: " + line;
    return false;
  }
  if (!Step("mcopy", {"-n", path_, copy}, false, error)) return false;
  struct stat st;
  if (::lstat(copy.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
    error = Describe() + " is no file";
    return false;
  }
  // mcopy may give the copy of a read-only file no write permission.
  ::chmod(copy.c_str(), (st.st_mode & 07777) | S_IRUSR | S_IWUSR);
  return true;
}

bool SystemDatInImage::Replace(const std::string& copy,
                               const std::string& check, std::string& error) {
  const DosAttributes& a = attributes_;
  const std::vector<std::string> attributes{
      a.archive ? "+a" : "-a", a.readOnly ? "+r" : "-r", a.system ? "+s" : "-s",
      a.hidden ? "+h" : "-h", temporary_};
  struct Stage {
    const char* failure;
    const char* command;
    std::vector<std::string> args;
    bool writes;
  };
  const Stage stages[] = {
      // "-D o": a REGSWTCH.TMP left by a run that was killed is replaced.
      {"cannot write the new file into the image",
       "mcopy",
       {"-D", "o", copy, temporary_},
       true},
      {"cannot give the new file the attributes of SYSTEM.DAT", "mattrib",
       attributes, true},
      {"cannot read the new file back",
       "mcopy",
       {"-n", temporary_, check},
       false},
  };
  for (const Stage& stage : stages) {
    if (!Step(stage.command, stage.args, stage.writes, error)) {
      error = stage.failure + (": " + error);
      return Abandon(error);
    }
    if (stop_.PendingStop() != 0) return Abandon(error);
  }
  if (!SameContents(copy, check)) {
    error = "the new file reads back from the image differently";
    return Abandon(error);
  }
  // Removes the old directory entry and renames the new one, as one
  // command that runs to its end whatever happens to this process.
  if (Step("mren", {"-D", "o", temporary_, path_}, true, error)) return true;
  // Only where the old SYSTEM.DAT is certainly still there may the new
  // file go.
  std::string ignored;
  if (Step("mattrib", {temporary_}, false, ignored) &&
      Step("mattrib", {path_}, false, ignored))
    return Abandon(error);
  error += "; look at " + DosPath(folder_.volume.letter, folder_.path) +
           " with mdir: " + kTemporaryName + " holds the new registry";
  return false;
}

// Takes the new file out of the folder again; SYSTEM.DAT is the old one.
bool SystemDatInImage::Abandon(std::string& error) {
  if (stop_.PendingStop() != 0) error = "stopped";
  const Mtools::Result removed =
      mtools_.Run("mdel", folder_.volume, {temporary_}, true);
  const bool gone =
      removed.ran && (removed.status == 0 ||
                      removed.output.find("not found") != std::string::npos);
  error += "; " + Describe() + " was left as it was";
  if (!gone)
    error += ", and " + std::string(kTemporaryName) +
             " may be left beside it (" + Mtools::Failure("mdel", removed) +
             ")";
  return false;
}

}  // namespace hostreg
