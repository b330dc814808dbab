#include "host/cli/image_run.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <sstream>
#include <string>

#include "host/cli/registry_target.h"
#include "host/files/locked_file.h"
#include "host/files/printable.h"
#include "host/formats/open_file.h"
#include "host/image/disk_layout.h"
#include "host/image/image_file.h"
#include "host/image/mtools.h"
#include "host/image/stop_signals.h"
#include "host/image/system_dat.h"
#include "host/image/windows_folder.h"
#include "host/image/work_folder.h"

namespace hostreg {

namespace {

constexpr int kExitImage = 2;

std::string ReplaceAll(std::string text, const std::string& from,
                       const std::string& to) {
  for (size_t at = text.find(from); at != std::string::npos;
       at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
  return text;
}

class ImageRun {
 public:
  ImageRun(const Options& options, std::ostream& out, std::ostream& err,
           const SystemCalls& calls)
      : options_(options),
        out_(out),
        err_(err),
        calls_(calls),
        locked_(calls) {}
  ~ImageRun() {
    if (fd_ >= 0) ::close(fd_);
  }

  int Run(RunReport* report);

 private:
  bool ReadsOnly() const { return options_.dryRun || options_.show; }
  bool Lock();
  bool Open(DiskLayout& layout);
  int Work(const StopSignals& stop, RunReport* report);
  int RunOnCopy(const SystemDatInImage& dat, const std::string& copy,
                RunReport& inner, std::string& out);
  int Save(SystemDatInImage& dat, const std::string& copy,
           const std::string& check);
  // One line on standard error, about the image or a volume in it; none
  // when the run is ending by a signal, which broke off what failed.
  void Complain(const std::string& text, bool wholeImage = false) {
    if (stop_ != nullptr && stop_->Pending() != 0) return;
    err_ << "regswitch: " << (wholeImage ? image_ : where_) << ": "
         << Printable(text) << "\n"
         << std::flush;
  }

  const Options& options_;
  std::ostream& out_;
  std::ostream& err_;
  const SystemCalls& calls_;
  LockedFile locked_;
  const StopSignals* stop_ = nullptr;
  int fd_ = -1;
  const std::string image_ = Printable(options_.imagePath);
  std::string where_ = image_;
};

// Held from before the image is read until after it is written, so that
// runs on one image take turns.
bool ImageRun::Lock() {
  return LockForRun(locked_, options_.imagePath, ReadsOnly(), "image", err_);
}

bool ImageRun::Open(DiskLayout& layout) {
  fd_ = ::open(options_.imagePath.c_str(), O_RDONLY | O_CLOEXEC);
  struct stat st;
  if (fd_ < 0 || ::fstat(fd_, &st) != 0) {
    Complain("cannot open: " + Reason(errno));
    return false;
  }
  const std::string holder = OtherProgramsLock(fd_);
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
  const int fd = fd_;
  const ImageReader read = [fd](uint64_t offset, char* buffer, size_t size) {
    return ::pread(fd, buffer, size, static_cast<off_t>(offset)) ==
           static_cast<ssize_t>(size);
  };
  std::string error;
  if (!ReadDiskLayout(read, static_cast<uint64_t>(st.st_size),
                      options_.imagePath, layout, error)) {
    Complain(error);
    return false;
  }
  return true;
}

int ImageRun::Run(RunReport* report) {
  if (!Lock()) return kExitImage;
  StopSignals stop;
  stop_ = &stop;
  const int status = Work(stop, report);
  // Only now, with the run's files removed and the image put right.
  stop.EndByPending();
  return status;
}

int ImageRun::Work(const StopSignals& stop, RunReport* report) {
  DiskLayout layout;
  WorkFolder work;
  std::string error;
  if (!Open(layout)) return kExitImage;
  if (!Mtools::Available(error) || !work.Create(error)) {
    Complain(error);
    return kExitImage;
  }
  Mtools mtools(fd_, work.path(), stop);
  WindowsFolder folder;
  if (!FindWindowsFolder(layout, options_.partition, mtools, folder, error)) {
    Complain(error);
    return kExitImage;
  }
  if (folder.volume.number != 0)
    where_ += ", partition " + std::to_string(folder.volume.number);
  SystemDatInImage dat(mtools, folder, stop);
  const std::string copy = work.path() + "/SYSTEM.DAT";
  if (!dat.CopyOut(copy, error)) {
    Complain(error);
    return kExitImage;
  }
  RunReport inner;
  std::string out;
  const int status =
      stop.Pending() != 0 ? kExitImage : RunOnCopy(dat, copy, inner, out);
  if (report != nullptr) report->openHandlesAtEnd = inner.openHandlesAtEnd;
  if (status != 0 || stop.Pending() != 0) return status;
  if (!inner.saved) {
    // What a dry run printed must be what the image holds.
    if (!out.empty() && !locked_.Unchanged(error)) {
      Complain(error + "; run again to see its changes", true);
      return kExitImage;
    }
    out_ << out << std::flush;
    return 0;
  }
  const int saved = Save(dat, copy, work.path() + "/CHECK.DAT");
  if (saved == 0 && report != nullptr) report->saved = true;
  return saved;
}

// The ordinary run on the copy: its messages name the file in the image,
// and what it prints is held back until the image is known to be as read.
int ImageRun::RunOnCopy(const SystemDatInImage& dat, const std::string& copy,
                        RunReport& inner, std::string& out) {
  std::string head(4, '\0');
  std::ifstream(copy, std::ios::binary).read(&head[0], 4);
  if (!IsWindows9xRegistryFile(head)) {
    Complain(dat.Describe() +
             ": not a Windows 9x registry file (it does not start with "
             "CREG)");
    return kExitImage;
  }
  Options options = options_;
  options.haveImage = false;
  options.partition = 0;
  options.haveRegistry = true;
  options.registryPath = copy;
  std::ostringstream innerOut, innerErr;
  int status;
  {
    // The save of the copy ends the run at once on a signal, leaving the
    // work folder; held back, the signal is noted after it.
    StopSignals::Hold hold;
    status = RunOnRegistryFile(options, innerOut, innerErr, calls_, &inner);
  }
  err_ << ReplaceAll(innerErr.str(), Printable(copy),
                     where_ + ": " + Printable(dat.Describe()))
       << std::flush;
  out = innerOut.str();
  return status;
}

// Writes the saved copy into the image, if the image may be written and is
// still as it was read.
int ImageRun::Save(SystemDatInImage& dat, const std::string& copy,
                   const std::string& check) {
  std::string error;
  if (!MayWriteImage(fd_, error)) {
    Complain(error, true);
    return kExitImage;
  }
  if (!locked_.Unchanged(error)) {
    Complain(error + "; the image was left as it was", true);
    return kExitImage;
  }
  if (!dat.Replace(copy, check, error)) {
    Complain(error);
    return kExitImage;
  }
  return 0;
}

}  // namespace

int RunOnImage(const Options& options, std::ostream& out, std::ostream& err,
               const SystemCalls& calls, RunReport* report) {
  return ImageRun(options, out, err, calls).Run(report);
}

}  // namespace hostreg
