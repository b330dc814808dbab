// The run on a disk image (--image): the image locked and fingerprinted,
// the Windows folder found in it, its SYSTEM.DAT copied out, the registry
// session run over those bytes, and what the session saved written back
// only while the image is still as it was read.
#include <fcntl.h>

#include <cerrno>
#include <string>

#include "host/cli/run.h"
#include "host/cli/runs.h"
#include "host/files/locked_file.h"
#include "host/formats/creg/creg_format.h"
#include "host/image/disk_layout.h"
#include "host/image/image_file.h"
#include "host/image/mtools.h"
#include "host/image/system_dat.h"
#include "host/image/windows_folder.h"
#include "host/image/work_folder.h"
#include "host/session/session.h"

namespace hostreg {

namespace {

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
  bool Open(DiskLayout& layout);
  int Work();
  int RunSession(const SystemDatInImage& dat, const std::string& copy,
                 bool& saved, std::string& newBytes);
  bool ReadCopy(const SystemDatInImage& dat, const std::string& copy,
                std::string& bytes);
  bool WriteCopy(const std::string& copy, const std::string& bytes);
  int Print(const std::string& text);
  int Save(SystemDatInImage& dat, const std::string& copy,
           const std::string& check);
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
};

// Held from before the image is read until after it is written, so that
// runs on one image take turns; its checksum tells whether another program
// wrote it meanwhile.
bool ImageRun::Lock() {
  const std::string& path = options_.imagePath;
  const LockedFile::Waiting waiting{kLockWaitMilliseconds, [this, &path] {
    messages_.Say(path + ": waiting for another run to finish with the image");
  }};
  std::string error;
  if (image_.Acquire(path,
                     ReadsOnly() ? LockedFile::Access::kRead
                                 : LockedFile::Access::kWrite,
                     waiting, error) &&
      image_.Fingerprint(error))
    return true;
  messages_.Say(error);
  return false;
}

bool ImageRun::Open(DiskLayout& layout) {
  const std::string holder = OtherProgramsLock(platform_, image_.fd());
  if (!holder.empty()) {
    const std::string text = holder +
                             " holds a lock on the image: is a virtual "
                             "machine running from it? Shut the guest down";
    if (!ReadsOnly()) {
      Complain(text + " first; nothing was changed");
      return false;
    }
    Complain(text + "; what is shown may be out of date");
  }
  const int fd = image_.fd();
  const ImageReader read = [this, fd](uint64_t offset, char* buffer,
                                      size_t size) {
    return platform_.ReadAt(fd, buffer, size, offset) ==
           static_cast<long>(size);
  };
  std::string error;
  if (!ReadDiskLayout(read, image_.size(), options_.imagePath, layout,
                      error)) {
    Complain(error);
    return false;
  }
  return true;
}

int ImageRun::Run() {
  if (!Lock()) return kExitFailure;
  platform_.DeferStops();
  const int status = Work();
  // Only now, with the run's files removed and the image put right.
  platform_.EndByPendingStop();
  return status;
}

int ImageRun::Work() {
  DiskLayout layout;
  WorkFolder work;
  std::string error;
  if (!Open(layout)) return kExitFailure;
  if (!Mtools::Available(error) || !work.Create(error)) {
    Complain(error);
    return kExitFailure;
  }
  Mtools mtools(image_.fd(), work.path(), platform_);
  WindowsFolder folder;
  if (!FindWindowsFolder(layout, options_.partition, mtools, folder, error)) {
    Complain(error);
    return kExitFailure;
  }
  if (folder.volume.number != 0)
    where_ += ", partition " + std::to_string(folder.volume.number);
  SystemDatInImage dat(mtools, folder, platform_);
  const std::string copy = work.path() + "/SYSTEM.DAT";
  if (!dat.CopyOut(copy, error)) {
    Complain(error);
    return kExitFailure;
  }
  if (platform_.PendingStop() != 0) return kExitFailure;
  bool saved = false;
  std::string newBytes;
  const int status = RunSession(dat, copy, saved, newBytes);
  if (status != 0 || !saved || platform_.PendingStop() != 0) return status;
  if (!WriteCopy(copy, newBytes)) return kExitFailure;
  return Save(dat, copy, work.path() + "/CHECK.DAT");
}

bool ImageRun::ReadCopy(const SystemDatInImage& dat, const std::string& copy,
                        std::string& bytes) {
  LockedFile file(platform_);
  std::string error;
  std::shared_ptr<const FileBytes> read;
  if (file.OpenUnlocked(copy, error)) read = file.Read(false, copy, error);
  if (!read) {
    Complain(dat.Describe() + ": cannot read the copy taken out: " + error);
    return false;
  }
  bytes = std::string(read->View());
  if (IsCregFile(bytes)) return true;
  Complain(dat.Describe() +
           ": not a Windows 9x registry file (it does not start with CREG)");
  return false;
}

// The session's messages name the file in the image, and what it prints
// is held back until the image is known to be as it was read. `newBytes`
// is what its save wrote, if it `saved`.
int ImageRun::RunSession(const SystemDatInImage& dat, const std::string& copy,
                         bool& saved, std::string& newBytes) {
  std::string bytes;
  if (!ReadCopy(dat, copy, bytes)) return kExitFailure;
  MemoryStore store(where_ + ": " + dat.Describe(), std::move(bytes));
  RegistrySession session(platform_, messages_);
  if (!session.Open(RegistrySession::Root::kMachine, store, ReadsOnly()))
    return kExitFailure;
  std::string text;
  if (options_.show)
    return session.Show(text) ? Print(text) : kExitFailure;
  for (const std::string& path : options_.mergePaths)
    if (!session.Merge(path)) return kExitFailure;
  session.RunSwitches(options_.tail, out_, options_.verbose, HostAboutText());
  if (options_.dryRun)
    return session.Describe(text) ? Print(text) : kExitFailure;
  if (!session.Save(saved)) return kExitFailure;
  if (saved) newBytes = *store.written();
  return 0;
}

// What a dry run or --show prints must be what the image holds.
int ImageRun::Print(const std::string& text) {
  std::string error;
  if (!text.empty() && !image_.Unchanged(error)) {
    Complain(error + "; run again to see its changes", true);
    return kExitFailure;
  }
  out_ << text << std::flush;
  return 0;
}

bool ImageRun::WriteCopy(const std::string& copy, const std::string& bytes) {
  const int fd = platform_.Open(copy.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
  const int code = fd < 0 ? errno : WriteFully(platform_, fd, bytes);
  if (fd >= 0 && platform_.Close(fd) != 0 && code == 0) {
    Complain("cannot write the new SYSTEM.DAT into " + copy + ": " +
             Reason(errno));
    return false;
  }
  if (code == 0) return true;
  Complain("cannot write the new SYSTEM.DAT into " + copy + ": " +
           Reason(code));
  return false;
}

// Writes the new file into the image, if the image may be written and is
// still as it was read.
int ImageRun::Save(SystemDatInImage& dat, const std::string& copy,
                   const std::string& check) {
  std::string error;
  if (!MayWriteImage(platform_, image_.fd(), error)) {
    Complain(error, true);
    return kExitFailure;
  }
  if (!image_.Unchanged(error)) {
    Complain(error + "; the image was left as it was", true);
    return kExitFailure;
  }
  if (!dat.Replace(copy, check, error)) {
    Complain(error);
    return kExitFailure;
  }
  return 0;
}

}  // namespace

int RunOnImage(const Options& options, Platform& platform, std::ostream& out,
               Messages& messages) {
  return ImageRun(options, platform, out, messages).Run();
}

}  // namespace hostreg
