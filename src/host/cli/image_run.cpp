// The run on a disk image (--image): the image locked, its disk opened
// (byte for byte, or through QEMU's block layer), the Windows folder
// found in it, SYSTEM.DAT (and, for a merge, USER.DAT) read, the registry
// session run over those bytes, and what the session saved written back
// by mtools, only while all that the run read is still as it was.
#include <fcntl.h>

#include <cerrno>
#include <memory>
#include <string>
#include <vector>

#include "host/cli/run.h"
#include "host/cli/runs.h"
#include "host/files/locked_file.h"
#include "host/formats/creg/creg_format.h"
#include "host/image/disk_layout.h"
#include "host/image/image_disk.h"
#include "host/image/image_file.h"
#include "host/image/mtools.h"
#include "host/image/system_dat.h"
#include "host/image/volume_files.h"
#include "host/image/windows_folder.h"
#include "host/image/work_folder.h"
#include "host/session/session.h"

namespace hostreg {

namespace {

// The new files' names beside the old ones until they replace them.
constexpr const char* kSystemTemporary = "REGSWTCH.TMP";
constexpr const char* kUserTemporary = "REGSWUSR.TMP";

// A registry file of the image, the store the session reads it from, and
// where its new bytes go.
struct ImageRegistry {
  FileInImage file;
  std::unique_ptr<MemoryStore> store;
  const char* temporary = "";
};

class ImageRun {
 public:
  ImageRun(const Options& options, Platform& platform, std::ostream& out,
           Messages& messages)
      : options_(options),
        platform_(platform),
        out_(out),
        messages_(messages),
        image_(platform),
        where_(options.imagePath) {}

  int Run();

 private:
  bool ReadsOnly() const { return options_.dryRun || options_.show; }
  bool Lock();
  bool Held();
  int Work();
  bool Find(WindowsFolder& folder);
  bool ReadRegistry(FatFileSystem& files, const WindowsFolder& folder,
                    const char* name, bool needed, ImageRegistry& registry);
  std::vector<std::string> Profiles(FatFileSystem& files,
                                    const WindowsFolder& folder);
  int RunSession(FatFileSystem& files, const WindowsFolder& folder);
  bool ProfilesRefusal(RegistrySession& session,
                       const std::vector<std::string>& profiles);
  int Print(const std::string& text);
  int Save(FatFileSystem& files, const WindowsFolder& folder);
  bool Room(uint64_t system);
  bool Stage(std::vector<std::unique_ptr<RegistryInImage>>& staged);
  // One line about the image, or about the volume in it.
  void Complain(const std::string& text, bool wholeImage = false) {
    messages_.Say((wholeImage ? options_.imagePath : where_) + ": " + text);
  }

  const Options& options_;
  Platform& platform_;
  std::ostream& out_;
  Messages& messages_;
  LockedFile image_;
  std::string where_;
  std::unique_ptr<WorkFolder> work_;
  std::unique_ptr<ImageDisk> disk_;
  std::unique_ptr<VolumeReader> volumes_;
  ImageRegistry machine_, user_;
};

// Held from before the image is read until after it is written, so that
// runs on one image take turns; mtools' writers and QEMU's server hold it
// too while they run, even when this run has ended.
bool ImageRun::Lock() {
  const std::string& path = options_.imagePath;
  const LockedFile::Waiting waiting{kLockWaitMilliseconds, [this, &path] {
    messages_.Say(path + ": waiting for another run to finish with the image");
  }};
  std::string error;
  if (image_.Acquire(path,
                     ReadsOnly() ? LockedFile::Access::kRead
                                 : LockedFile::Access::kWrite,
                     waiting, error))
    return true;
  messages_.Say(error);
  return false;
}

// False when a running machine holds the image and the run would write.
bool ImageRun::Held() {
  const std::string holder = OtherProgramsLock(platform_, image_.fd());
  if (holder.empty()) return false;
  const std::string text = holder +
                           " holds a lock on the image: is a virtual "
                           "machine running from it? Shut the guest down";
  if (!ReadsOnly()) {
    Complain(text + " first; nothing was changed");
    return true;
  }
  Complain(text + "; what is shown may be out of date");
  return false;
}

int ImageRun::Run() {
  if (!Lock()) return kExitFailure;
  platform_.DeferStops();
  int status = Work();
  // Only now, with the run's files removed and the image put right.
  volumes_.reset();
  disk_.reset();
  work_.reset();
  platform_.EndByPendingStop();
  return status;
}

bool ImageRun::Find(WindowsFolder& folder) {
  std::string error;
  work_ = std::make_unique<WorkFolder>();
  if (!work_->Create(error)) {
    Complain(error);
    return false;
  }
  const LockedFile& image = image_;
  disk_ = std::make_unique<ImageDisk>(
      platform_, image_.fd(), image_.size(), options_.imagePath,
      [&image](std::string& why) { return image.SameVersion(why); });
  DiskLayout layout;
  if (!disk_->Open(work_->path(), ReadsOnly(), error) ||
      !ReadDiskLayout(disk_->reader(), disk_->size(), layout, error)) {
    Complain(error);
    return false;
  }
  volumes_ = std::make_unique<VolumeReader>(disk_->reader());
  if (!FindWindowsFolder(layout, options_.partition, *volumes_, folder,
                         error)) {
    Complain(error);
    return false;
  }
  if (folder.volume.number != 0)
    where_ += ", partition " + std::to_string(folder.volume.number);
  return true;
}

int ImageRun::Work() {
  if (Held()) return kExitFailure;
  WindowsFolder folder;
  std::string error;
  if (!Find(folder)) return kExitFailure;
  FatFileSystem* files = volumes_->Open(folder.volume, error);
  if (files == nullptr) {
    Complain(error);
    return kExitFailure;
  }
  // The boot sector, FATs and root folder, which mtools reads too, are
  // part of what must not change under the run.
  const Extent system = files->System();
  std::string bytes(system.size, '\0');
  if (!disk_->reader()(system.offset, &bytes[0], bytes.size())) {
    Complain("cannot read the volume's FATs");
    return kExitFailure;
  }
  if (!ReadRegistry(*files, folder, "SYSTEM.DAT", true, machine_) ||
      (!options_.mergePaths.empty() &&
       !ReadRegistry(*files, folder, "USER.DAT", false, user_)))
    return kExitFailure;
  if (platform_.PendingStop() != 0) return kExitFailure;
  const int status = RunSession(*files, folder);
  if (status != 0 || platform_.PendingStop() != 0) return status;
  return Save(*files, folder);
}

bool ImageRun::ReadRegistry(FatFileSystem& files, const WindowsFolder& folder,
                            const char* name, bool needed,
                            ImageRegistry& registry) {
  registry.file = FileInImage{folder.volume, folder.path, name, 0, ""};
  std::string error;
  const FatFileSystem::Lookup found =
      ReadFileInImage(files, registry.file, error);
  if (found == FatFileSystem::Lookup::kMissing && !needed) return true;
  if (found != FatFileSystem::Lookup::kFound) {
    Complain(error);
    return false;
  }
  if (!IsCregFile(registry.file.bytes)) {
    Complain(registry.file.Describe() +
             ": not a Windows 9x registry file (it does not start with CREG)");
    return false;
  }
  registry.store = std::make_unique<MemoryStore>(
      where_ + ": " + registry.file.Describe(), registry.file.bytes);
  registry.temporary = needed ? kSystemTemporary : kUserTemporary;
  return true;
}

// The users whose own USER.DAT lies in the Windows folder's PROFILES.
std::vector<std::string> ImageRun::Profiles(FatFileSystem& files,
                                            const WindowsFolder& folder) {
  const std::string base =
      (folder.path == "\\" ? "" : folder.path) + "\\PROFILES";
  std::vector<DirEntry> entries;
  std::vector<std::string> names;
  std::string ignored;
  if (files.List(base, entries, ignored) != FatFileSystem::Lookup::kFound)
    return names;
  for (const DirEntry& e : entries) {
    DirEntry dat;
    if (!e.folder() || e.shortName == "." || e.shortName == ".." ||
        files.Find(base + "\\" + e.shortName + "\\USER.DAT", dat, ignored) !=
            FatFileSystem::Lookup::kFound)
      continue;
    names.push_back(e.longName.empty() ? e.shortName : e.longName);
  }
  return names;
}

// HKEY_USERS goes to the Windows folder's USER.DAT, the default user's;
// where each user has a USER.DAT of their own, a merge that reaches it
// would not reach them, and is refused.
bool ImageRun::ProfilesRefusal(RegistrySession& session,
                               const std::vector<std::string>& profiles) {
  if (profiles.empty() || !session.Changes(RegistrySession::Root::kUsers))
    return false;
  std::string list;
  for (const std::string& name : profiles)
    list += (list.empty() ? "" : ", ") + ("Profiles\\" + name);
  Complain("the merge reaches HKEY_USERS, and this Windows keeps a USER.DAT "
           "for each user (" + list + ") besides " + user_.file.Describe() +
           ", the default user's: copy the user's file out with mcopy and "
           "merge into it with --registry SYSTEM.DAT --user USER.DAT; "
           "nothing was changed");
  return true;
}

// The session's messages name the files in the image, and what it prints
// is held back until the image is known to be as it was read.
int ImageRun::RunSession(FatFileSystem& files, const WindowsFolder& folder) {
  RegistrySession session(platform_, messages_);
  if (!session.Open(RegistrySession::Root::kMachine, *machine_.store,
                    ReadsOnly()) ||
      (user_.store && !session.Open(RegistrySession::Root::kUsers,
                                    *user_.store, ReadsOnly())))
    return kExitFailure;
  std::string text;
  if (options_.show)
    return session.Show(text) ? Print(text) : kExitFailure;
  for (const std::string& path : options_.mergePaths)
    if (!session.Merge(path)) return kExitFailure;
  session.RunSwitches(options_.tail, out_, options_.verbose, HostAboutText());
  if (user_.store && ProfilesRefusal(session, Profiles(files, folder)))
    return kExitFailure;
  if (options_.dryRun)
    return session.Describe(text) ? Print(text) : kExitFailure;
  bool saved = false;
  return session.Save(saved) ? 0 : kExitFailure;
}

// What a dry run or --show prints must be what the image holds.
int ImageRun::Print(const std::string& text) {
  std::string error;
  if (!text.empty() && !disk_->Unchanged(error)) {
    Complain(error + "; run again to see its changes", true);
    return kExitFailure;
  }
  out_ << text << std::flush;
  return 0;
}

// Writes the new files into the folder under their temporary names, each
// checked; false, said, with the folder as it was.
bool ImageRun::Stage(std::vector<std::unique_ptr<RegistryInImage>>& staged) {
  for (ImageRegistry* r : {&machine_, &user_}) {
    if (!r->store || r->store->written() == nullptr) continue;
    const std::string copy = work_->path() + "/" + r->file.name;
    const int fd =
        platform_.Open(copy.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC);
    const int code = fd < 0 ? errno : WriteFully(platform_, fd, *r->store->written());
    if (fd >= 0 && platform_.Close(fd) != 0 && code == 0) errno = EIO;
    if (fd < 0 || code != 0) {
      const int why = code != 0 ? code : errno;
      Complain("cannot write the new " + r->file.name + " into " + copy +
               ": " + Reason(why) +
               (why == ENOSPC || why == EDQUOT
                    ? " (that is TMPDIR: free some room there, or set TMPDIR "
                      "to a folder with room)"
                    : ""));
      return false;
    }
    staged.push_back(std::make_unique<RegistryInImage>(
        disk_->mtools(), disk_->volume(), r->file, r->temporary, platform_));
    std::string error;
    if (!staged.back()->Stage(copy, copy + ".check", error)) {
      for (size_t i = 0; i + 1 < staged.size(); ++i) staged[i]->Abandon(error);
      Complain(error);
      return false;
    }
  }
  return true;
}

std::string Size(uint64_t bytes) {
  if (bytes < (1u << 20))
    return std::to_string((bytes + 1023) / 1024) + " KB";
  return std::to_string(bytes / (1u << 20)) + "." +
         std::to_string(bytes % (1u << 20) * 10 / (1u << 20)) + " MB";
}

// The run's private folder holds the new files, their read-back copies and
// the volume's FATs and folders (for an image QEMU serves): a full $TMPDIR
// would otherwise end the run halfway, blamed on the image.
bool ImageRun::Room(uint64_t system) {
  uint64_t needed = system + (1u << 20);
  std::string names;
  for (const ImageRegistry* r : {&machine_, &user_})
    if (r->store && r->store->written() != nullptr) {
      needed += r->file.bytes.size() + 3 * r->store->written()->size();
      names += (names.empty() ? "" : " and ") + r->file.name;
    }
  const std::string& work = work_->path();
  const std::string tmpdir = work.substr(0, work.rfind('/'));
  uint64_t free = 0;
  if (!platform_.FreeSpace(work.c_str(), free) || free >= needed) return true;
  Complain("TMPDIR (" + tmpdir + ") has " + Size(free) +
               " free, and the run needs about " + Size(needed) +
               " there for its copies of " + names +
               ": free some room, or set TMPDIR to a folder with room; "
               "nothing was changed",
           true);
  return false;
}

// Writes the new files into the image, if it may be written and all the
// run read of it is still as it was.
int ImageRun::Save(FatFileSystem& files, const WindowsFolder& folder) {
  const bool any = machine_.store->written() != nullptr ||
                   (user_.store && user_.store->written() != nullptr);
  if (!any) return 0;
  std::string error;
  if (!MayWriteImage(platform_, image_.fd(), error)) {
    Complain(error, true);
    return kExitFailure;
  }
  if (!Mtools::Available(platform_, error)) {
    Complain(error + "; nothing was changed");
    return kExitFailure;
  }
  if (!Room(files.System().size)) return kExitFailure;
  for (ImageRegistry* r : {&machine_, &user_})
    if (r->store && r->store->written() != nullptr &&
        (!Unambiguous(files, folder.volume, folder.path, r->file.name, error) ||
         !Unambiguous(files, folder.volume, folder.path, r->temporary,
                      error))) {
      Complain(error);
      return kExitFailure;
    }
  if (!disk_->PrepareWrite(folder.volume, {"\\", folder.path}, error)) {
    Complain(error + (error.find("nothing was changed") == std::string::npos
                          ? "; the image was left as it was"
                          : ""),
             true);
    return kExitFailure;
  }
  std::vector<std::unique_ptr<RegistryInImage>> staged;
  if (!Stage(staged)) return kExitFailure;
  if (platform_.PendingStop() != 0) {
    for (auto& file : staged) file->Abandon(error);
    return kExitFailure;
  }
  std::vector<RegistryInImage*> order;
  for (auto& file : staged) order.push_back(file.get());
  if (PutInPlace(order, work_->path() + "/OLD.DAT", disk_->mtools(),
                 disk_->volume(), error))
    return 0;
  Complain(error);
  return kExitFailure;
}

}  // namespace

int RunOnImage(const Options& options, Platform& platform, std::ostream& out,
               Messages& messages) {
  return ImageRun(options, platform, out, messages).Run();
}

}  // namespace hostreg
