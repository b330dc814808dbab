#include "host/image/image_disk.h"

#include <cstring>

namespace hostreg {

namespace {

// What the descriptor of a VMDK says its kind is ("streamOptimized"), from
// the file's first 64 KB, where the descriptor or its embedded copy is.
std::string VmdkKind(const std::string& head) {
  const size_t at = head.find("createType=\"");
  if (at == std::string::npos) return "";
  const size_t begin = at + 12, end = head.find('"', begin);
  return end == std::string::npos ? "" : head.substr(begin, end - begin);
}

}  // namespace

ImageDisk::ImageDisk(Platform& platform, int fd, uint64_t fileSize,
                     std::string path,
                     std::function<bool(std::string&)> fileUnchanged)
    : platform_(platform),
      fd_(fd),
      fileSize_(fileSize),
      path_(std::move(path)),
      fileUnchanged_(std::move(fileUnchanged)) {}

ImageDisk::~ImageDisk() = default;

bool ImageDisk::ReadFile(uint64_t offset, char* buffer, size_t size) {
  return ReadFullyAt(platform_, fd_, buffer, size, offset) ==
         static_cast<long>(size);
}

bool ImageDisk::Open(const std::string& workFolder, bool ignoreLocks,
                     std::string& error) {
  workFolder_ = workFolder;
  const ImageReader file = [this](uint64_t offset, char* buffer, size_t size) {
    return ReadFile(offset, buffer, size);
  };
  if (!IdentifyContainer(file, fileSize_, path_, container_, error))
    return false;
  if (direct()) {
    const uint64_t base = container_.dataOffset, end = container_.dataSize;
    plain_ = [this, base, end](uint64_t offset, char* buffer, size_t size) {
      return offset + size <= end && ReadFile(base + offset, buffer, size);
    };
  } else {
    if (!BlockDevice::Available(platform_, error)) {
      error = "a " + container_.format + " image: " + error;
      return false;
    }
    device_ = std::make_unique<BlockDevice>(platform_, workFolder_);
    if (!device_->Start(path_, container_.qemuFormat, false, ignoreLocks, fd_,
                        error)) {
      error = "a " + container_.format + " image that QEMU cannot open: " +
              error;
      return false;
    }
    BlockDevice* device = device_.get();
    plain_ = [device](uint64_t offset, char* buffer, size_t size) {
      return device->Read(offset, buffer, size);
    };
  }
  guarded_ = guard_.Through(plain_);
  return true;
}

uint64_t ImageDisk::size() const {
  return direct() ? container_.dataSize : device_->size();
}

bool ImageDisk::Unchanged(std::string& error) {
  return fileUnchanged_(error) && guard_.Same(plain_, error);
}

// What QEMU reads but cannot change in place is refused before anything
// is written.
bool ImageDisk::WritableFormat(std::string& error) {
  if (std::strcmp(container_.qemuFormat, "vmdk") != 0) return true;
  std::string head(std::min<uint64_t>(fileSize_, 65536), '\0');
  if (!ReadFile(0, &head[0], head.size())) head.clear();
  if (VmdkKind(head) != "streamOptimized") return true;
  error = "a streamOptimized VMDK, whose grains QEMU (as VMware) writes "
          "only once and cannot change in place; make a sparse copy and "
          "run on that: qemu-img convert -f vmdk -O vmdk -o "
          "subformat=monolithicSparse " +
          ShellWord(path_) + " " + ShellWord(SiblingName(path_, "-sparse.vmdk")) +
          "; nothing was changed";
  return false;
}

bool ImageDisk::PrepareWrite(const FatVolume& volume,
                             const std::vector<std::string>& folders,
                             std::string& error) {
  if (direct()) {
    if (!Unchanged(error)) return false;
    mtools_ = std::make_unique<Mtools>(platform_, fd_, container_.dataOffset);
    volume_ = volume;
    return true;
  }
  if (!WritableFormat(error)) return false;
  // Served again for writing: a machine started meanwhile makes this fail.
  device_->Stop();
  if (!fileUnchanged_(error)) return false;
  if (!device_->Start(path_, container_.qemuFormat, true, false, fd_, error)) {
    error = "QEMU cannot open it for writing: " + error + "; nothing was changed";
    return false;
  }
  if (!guard_.Same(plain_, error)) return false;
  copy_ = std::make_unique<VolumeCopy>(platform_, *device_, volume, folders);
  if (!copy_->Create(workFolder_ + "/volume.img", guard_.pieces(), error))
    return false;
  VolumeCopy* copy = copy_.get();
  mtools_ = std::make_unique<Mtools>(
      platform_, copy_->fd(), 0,
      [copy](std::string& why) { return copy->PutBack(why); });
  volume_ = copy_->local();
  return true;
}

}  // namespace hostreg
