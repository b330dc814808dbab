#include "host/image/volume_copy.h"

#include <fcntl.h>

#include <algorithm>
#include <cerrno>

namespace hostreg {

namespace {

constexpr uint64_t kSector = 512;

}  // namespace

VolumeCopy::VolumeCopy(Platform& platform, BlockDevice& device,
                       const FatVolume& volume,
                       std::vector<std::string> folders)
    : platform_(platform),
      device_(device),
      volume_(volume),
      folders_(std::move(folders)) {}

VolumeCopy::~VolumeCopy() {
  if (fd_ >= 0) platform_.Close(fd_);
  if (!path_.empty()) platform_.Remove(path_.c_str());
}

FatVolume VolumeCopy::local() const {
  FatVolume v = volume_;
  v.offset = 0;
  return v;
}

bool VolumeCopy::ReadAt(uint64_t offset, char* buffer, size_t size) const {
  return ReadFullyAt(platform_, fd_, buffer, size, offset) ==
         static_cast<long>(size);
}

bool VolumeCopy::Create(const std::string& path,
                        const std::vector<ReadGuard::Piece>& pieces,
                        std::string& error) {
  path_ = path;
  fd_ = platform_.Open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC);
  if (fd_ < 0 || platform_.Resize(fd_, volume_.size) != 0) {
    error = "cannot make a local copy of the volume: " + Reason(errno);
    return false;
  }
  // What was read, joined where pieces overlap or touch.
  for (const auto& [offset, bytes] : pieces) {
    if (offset < volume_.offset ||
        offset + bytes.size() > volume_.offset + volume_.size)
      continue;
    uint64_t begin = offset - volume_.offset, end = begin + bytes.size();
    std::string joined = bytes;
    auto it = known_.upper_bound(begin);
    if (it != known_.begin() &&
        std::prev(it)->first + std::prev(it)->second.size() >= begin)
      --it;
    while (it != known_.end() && it->first <= end) {
      const uint64_t b = it->first, e = b + it->second.size();
      if (b < begin) joined.insert(0, it->second, 0, begin - b);
      if (e > end) joined.append(it->second, it->second.size() - (e - end),
                                 std::string::npos);
      begin = std::min(begin, b);
      end = std::max(end, e);
      it = known_.erase(it);
    }
    known_[begin] = std::move(joined);
  }
  for (const auto& [at, bytes] : known_)
    if (const int code = WriteFullyAt(platform_, fd_, bytes, at)) {
      error = "cannot write the local copy of the volume: " + Reason(code);
      return false;
    }
  return Watch(watched_, error);
}

// The entries of the watched folders, and the folders themselves, as the
// copy holds them now.
bool VolumeCopy::Watch(Entries& entries, std::string& error) const {
  const ImageReader read = [this](uint64_t offset, char* buffer, size_t size) {
    return ReadAt(offset, buffer, size);
  };
  FatFileSystem files(read, local());
  entries.clear();
  if (!files.Open(error)) return false;
  for (const std::string& folder : folders_) {
    std::vector<DirEntry> list;
    const FatFileSystem::Lookup found = files.List(folder, list, error);
    if (found == FatFileSystem::Lookup::kBroken) return false;
    for (const DirEntry& e : list)
      if (e.shortName != "." && e.shortName != "..")
        entries[folder + "\\" + e.shortName] = e;
    DirEntry self;
    if (folder != "\\" &&
        files.Find(folder, self, error) == FatFileSystem::Lookup::kFound)
      entries[folder] = self;
  }
  return true;
}

// Every sector of what was read that differs now.
bool VolumeCopy::Changed(std::vector<BlockDevice::Run>& runs,
                         std::string& error) {
  std::string now;
  for (auto& [at, bytes] : known_) {
    now.resize(bytes.size());
    if (!ReadAt(at, &now[0], now.size())) {
      error = "cannot read the local copy of the volume: " + Reason(errno);
      return false;
    }
    for (uint64_t s = 0; s < bytes.size(); s += kSector) {
      const uint64_t n = std::min<uint64_t>(kSector, bytes.size() - s);
      if (now.compare(s, n, bytes, s, n) == 0) continue;
      const uint64_t disk = volume_.offset + at + s;
      if (!runs.empty() &&
          runs.back().first + runs.back().second.size() == disk)
        runs.back().second.append(now, s, n);
      else
        runs.emplace_back(disk, now.substr(s, n));
    }
    bytes = now;
  }
  return true;
}

// The parts of a stretch of the volume that nothing read covers.
void VolumeCopy::Uncovered(uint64_t offset, uint64_t size,
                           std::vector<Extent>& parts) const {
  uint64_t at = offset;
  const uint64_t end = offset + size;
  auto it = known_.upper_bound(at);
  if (it != known_.begin()) --it;
  for (; at < end && it != known_.end(); ++it) {
    const uint64_t b = it->first, e = b + it->second.size();
    if (e <= at) continue;
    if (b >= end) break;
    if (b > at) parts.push_back({at, b - at});
    at = std::max(at, e);
  }
  if (at < end) parts.push_back({at, end - at});
}

// The clusters that an entry new or changed since the last look holds and
// that were not read: written whole, and known from now on.
bool VolumeCopy::Taken(const Entries& now, std::vector<BlockDevice::Run>& runs,
                       std::string& error) {
  const ImageReader read = [this](uint64_t offset, char* buffer, size_t size) {
    return ReadAt(offset, buffer, size);
  };
  FatFileSystem files(read, local());
  if (!files.Open(error)) return false;
  for (const auto& [name, entry] : now) {
    const auto before = watched_.find(name);
    const bool same = before != watched_.end() &&
                      before->second.cluster == entry.cluster &&
                      before->second.size == entry.size && !entry.folder();
    if (same || entry.cluster == 0) continue;
    std::vector<Extent> chain, parts;
    if (!files.Extents(entry.cluster, chain, error)) return false;
    for (const Extent& e : chain) Uncovered(e.offset, e.size, parts);
    for (const Extent& part : parts) {
      std::string bytes(part.size, '\0');
      if (!ReadAt(part.offset, &bytes[0], bytes.size())) {
        error = "cannot read the local copy of the volume: " + Reason(errno);
        return false;
      }
      runs.emplace_back(volume_.offset + part.offset, bytes);
      known_[part.offset] = std::move(bytes);
    }
  }
  return true;
}

bool VolumeCopy::PutBack(std::string& error) {
  std::vector<BlockDevice::Run> runs;
  Entries now;
  if (!Changed(runs, error) || !Watch(now, error) ||
      !Taken(now, runs, error)) {
    error = "the local copy of the volume: " + error;
    return false;
  }
  watched_ = now;
  return device_.Write(runs, error);
}

}  // namespace hostreg
