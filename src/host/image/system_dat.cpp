#include "host/image/system_dat.h"

#include <fcntl.h>

#include <cerrno>
#include <fstream>
#include <iterator>

namespace hostreg {

namespace {

constexpr uint8_t kReadOnly = 0x01, kHidden = 0x02, kSystem = 0x04,
                  kArchive = 0x20;

std::string InFolder(const std::string& folder, const std::string& name) {
  return (folder == "\\" ? folder : folder + "\\") + name;
}

bool SameContents(const std::string& a, const std::string& b) {
  std::ifstream first(a, std::ios::binary), second(b, std::ios::binary);
  if (!first || !second) return false;
  return std::string(std::istreambuf_iterator<char>(first), {}) ==
         std::string(std::istreambuf_iterator<char>(second), {});
}

bool Succeeded(const Mtools::Result& result) {
  return result.ran && result.status == 0;
}

bool WriteLocal(Platform& platform, const std::string& path,
                const std::string& bytes) {
  const int fd =
      platform.Open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC);
  if (fd < 0) return false;
  const int code = WriteFully(platform, fd, bytes);
  return platform.Close(fd) == 0 && code == 0;
}

}  // namespace

std::string FileInImage::Describe() const {
  return DosPath(volume.letter, InFolder(folder, name));
}

FatFileSystem::Lookup ReadFileInImage(FatFileSystem& files, FileInImage& file,
                                      std::string& error) {
  DirEntry entry;
  const FatFileSystem::Lookup found =
      files.Find(InFolder(file.folder, file.name), entry, error);
  if (found == FatFileSystem::Lookup::kMissing ||
      (found == FatFileSystem::Lookup::kFound && entry.folder())) {
    error = "no " + file.name + " in " + DosPath(file.volume.letter, file.folder);
    return FatFileSystem::Lookup::kMissing;
  }
  if (found == FatFileSystem::Lookup::kBroken) return found;
  file.attributes = entry.attributes;
  file.bytes.clear();
  file.bytes.reserve(entry.size);
  const auto take = [&file](std::string_view piece) {
    file.bytes.append(piece);
    return true;
  };
  if (files.Read(entry, take, error)) return found;
  error = file.Describe() + ": " + error;
  return FatFileSystem::Lookup::kBroken;
}

bool Unambiguous(FatFileSystem& files, const FatVolume& volume,
                 const std::string& folder, const std::string& name,
                 std::string& error) {
  std::vector<DirEntry> entries;
  if (files.List(folder, entries, error) != FatFileSystem::Lookup::kFound)
    return false;
  int matches = 0;
  std::string other;
  for (const DirEntry& e : entries) {
    if (SameShortName(e.shortName, name)) ++matches;
    else if (SameShortName(e.longName, name)) other = e.shortName;
  }
  if (matches <= 1 && other.empty()) return true;
  error = DosPath(volume.letter, folder) + " holds " +
          (other.empty() ? "two files named " + name
                         : other + ", whose long name is " + name +
                               ", besides the file of that 8.3 name") +
          ": mtools, which writes the image, cannot tell them apart; "
          "rename one first; nothing was changed";
  return false;
}

RegistryInImage::RegistryInImage(const Mtools& mtools, const FatVolume& volume,
                                 const FileInImage& file,
                                 const char* temporary, Platform& platform)
    : mtools_(mtools),
      volume_(volume),
      file_(file),
      temporaryName_(temporary),
      platform_(platform),
      path_(Mtools::VolumePath(InFolder(file.folder, file.name))),
      temporary_(Mtools::VolumePath(InFolder(file.folder, temporary))) {}

bool RegistryInImage::Step(const char* command,
                           const std::vector<std::string>& args, bool writes,
                           std::string& error) const {
  const Mtools::Result result = mtools_.Run(command, volume_, args, writes);
  if (result.stopped) {
    error = "stopped";
    return false;
  }
  if (Succeeded(result)) return true;
  error = Mtools::Failure(command, result);
  return false;
}

bool RegistryInImage::Stage(const std::string& copy, const std::string& check,
                            std::string& error) {
  const uint8_t a = file_.attributes;
  const std::vector<std::string> attributes{
      (a & kArchive) ? "+a" : "-a", (a & kReadOnly) ? "+r" : "-r",
      (a & kSystem) ? "+s" : "-s", (a & kHidden) ? "+h" : "-h", temporary_};
  struct Stage {
    const char* failure;
    const char* command;
    std::vector<std::string> args;
    bool writes;
  };
  const Stage stages[] = {
      // "-D o": a temporary file left by a run that was killed is replaced.
      {"cannot write the new file into the image",
       "mcopy",
       {"-D", "o", copy, temporary_},
       true},
      {"cannot give the new file the attributes of the old one", "mattrib",
       attributes, true},
      {"cannot read the new file back", "mcopy", {"-n", temporary_, check},
       false},
  };
  for (const Stage& stage : stages) {
    if (!Step(stage.command, stage.args, stage.writes, error)) {
      error = stage.failure + (": " + error);
      return Abandon(error);
    }
    if (platform_.PendingStop() != 0) return Abandon(error);
  }
  if (SameContents(copy, check)) return true;
  error = "the new file reads back from the image differently";
  return Abandon(error);
}

Mtools::Command RegistryInImage::Rename() const {
  // Removes the old directory entry and renames the new one, in one
  // command.
  return {"mren", {"-D", "o", temporary_, path_}};
}

bool RegistryInImage::BothThere() const {
  std::string ignored;
  return Step("mattrib", {temporary_}, false, ignored) &&
         Step("mattrib", {path_}, false, ignored);
}

// Takes the new file out of the folder again; the old one is in place.
bool RegistryInImage::Abandon(std::string& error) {
  if (platform_.PendingStop() != 0) error = "stopped";
  const Mtools::Result removed =
      mtools_.Run("mdel", volume_, {temporary_}, true);
  const bool gone =
      removed.ran && (removed.status == 0 ||
                      removed.output.find("not found") != std::string::npos);
  error += "; " + Describe() + " was left as it was";
  if (!gone)
    error += ", and " + temporaryName_ + " may be left beside it (" +
             Mtools::Failure("mdel", removed) + ")";
  return false;
}

bool PutInPlace(const std::vector<RegistryInImage*>& files,
                const std::string& scratch, const Mtools& mtools,
                const FatVolume& volume, std::string& error) {
  std::vector<Mtools::Command> renames;
  for (const RegistryInImage* file : files) renames.push_back(file->Rename());
  const std::vector<Mtools::Result> results =
      mtools.RunTogether(volume, renames);
  size_t made = 0;
  while (made < results.size() && Succeeded(results[made])) ++made;
  if (made == files.size()) return true;
  error = made < results.size() ? Mtools::Failure("mren", results[made])
                                : "cannot run mren";
  // Those renamed already go back to what they were, so that the files
  // still belong together.
  for (size_t i = 0; i < made; ++i) {
    std::string again;
    bool back = WriteLocal(files[i]->platform(), scratch, files[i]->old()) &&
                files[i]->Stage(scratch, scratch + ".check", again);
    if (back) {
      const std::vector<Mtools::Result> rename =
          mtools.RunTogether(volume, {files[i]->Rename()});
      back = !rename.empty() && Succeeded(rename.back());
    }
    error += "; " + files[i]->Describe() +
             (back ? " was put back as it was"
                   : " holds the new registry and could not be put back (" +
                         again + "): the two files no longer belong together");
  }
  for (size_t i = made; i < files.size(); ++i) {
    if (files[i]->BothThere()) {
      files[i]->Abandon(error);
      continue;
    }
    error += "; look at the folder with mdir: the temporary file beside " +
             files[i]->Describe() + " holds the new registry";
  }
  return false;
}

}  // namespace hostreg
