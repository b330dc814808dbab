#include "host/image/fat_volume.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include "host/image/byte_order.h"

namespace hostreg {

namespace {

constexpr size_t kEntryBytes = 32;
constexpr uint8_t kLongName = 0x0F;
constexpr uint8_t kLabel = 0x08;
// A folder longer than this is taken for a loop (DOS allows 65,536 entries).
constexpr size_t kMostEntries = 65536;


std::string Upper(std::string text) {
  for (char& c : text)
    c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

std::string ShortName(const unsigned char* entry) {
  std::string base(reinterpret_cast<const char*>(entry), 8);
  std::string ext(reinterpret_cast<const char*>(entry) + 8, 3);
  if (static_cast<unsigned char>(base[0]) == 0x05) base[0] = '\xE5';
  while (!base.empty() && base.back() == ' ') base.pop_back();
  while (!ext.empty() && ext.back() == ' ') ext.pop_back();
  return ext.empty() ? base : base + "." + ext;
}

uint8_t ShortNameSum(const unsigned char* entry) {
  uint8_t sum = 0;
  for (int i = 0; i < 11; ++i)
    sum = static_cast<uint8_t>(((sum & 1) << 7) + (sum >> 1) + entry[i]);
  return sum;
}

// The long name's pieces, gathered from the entries before a short one.
class LongName {
 public:
  void Add(const unsigned char* entry) {
    const unsigned order = entry[0] & 0x1F;
    if ((entry[0] & 0x40) != 0) {
      parts_.assign(order, std::string());
      sum_ = entry[13];
      next_ = order;
    }
    if (order == 0 || order != next_ || entry[13] != sum_ ||
        order > parts_.size()) {
      parts_.clear();
      return;
    }
    std::string text;
    for (const int at : {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30}) {
      const uint32_t c = Le16(entry + at);
      if (c == 0 || c == 0xFFFF) break;
      text += c < 0x80 ? static_cast<char>(c) : '?';
    }
    parts_[order - 1] = text;
    --next_;
  }
  // The name, if its pieces belong to this short entry.
  std::string Take(const unsigned char* entry) {
    std::string name;
    if (!parts_.empty() && next_ == 0 && ShortNameSum(entry) == sum_)
      for (const std::string& part : parts_) name += part;
    parts_.clear();
    return name;
  }

 private:
  std::vector<std::string> parts_;
  uint8_t sum_ = 0;
  unsigned next_ = 0;
};

}  // namespace

bool SameShortName(const std::string& a, const std::string& b) {
  return Upper(a) == Upper(b);
}

bool FatFileSystem::Open(std::string& error) {
  unsigned char b[512];
  if (!read_(volume_.offset, reinterpret_cast<char*>(b), sizeof b)) {
    error = "cannot read its boot sector";
    return false;
  }
  sectorBytes_ = Le16(b + 11);
  const uint32_t perCluster = b[13];
  const uint32_t reserved = Le16(b + 14);
  fats_ = b[16];
  rootEntries_ = Le16(b + 17);
  const uint64_t total = Le16(b + 19) != 0 ? Le16(b + 19) : Le32(b + 32);
  const uint32_t fatSectors = Le16(b + 22) != 0 ? Le16(b + 22) : Le32(b + 36);
  const bool sizes = (sectorBytes_ == 512 || sectorBytes_ == 1024 ||
                      sectorBytes_ == 2048 || sectorBytes_ == 4096) &&
                     perCluster != 0 && (perCluster & (perCluster - 1)) == 0;
  if (!sizes || reserved == 0 || fats_ < 1 || fats_ > 2 || fatSectors == 0 ||
      total == 0 || b[510] != 0x55 || b[511] != 0xAA) {
    error = "no FAT file system (its boot sector does not describe one)";
    return false;
  }
  // mtools writes wherever the boot sector says the volume reaches.
  if (total * sectorBytes_ > volume_.size) {
    error = "its FAT file system claims " + std::to_string(total) +
            " sectors of " + std::to_string(sectorBytes_) +
            " bytes, more than the " + std::to_string(volume_.size / 512) +
            " sectors of 512 bytes " +
            (volume_.number != 0 ? "of its partition"
                                 : "the disk holds before its end") +
            "; a file system that reaches outside its place is not written";
    return false;
  }
  clusterBytes_ = perCluster * sectorBytes_;
  fatOffset_ = uint64_t{reserved} * sectorBytes_;
  fatBytes_ = uint64_t{fatSectors} * sectorBytes_;
  rootOffset_ = fatOffset_ + fats_ * fatBytes_;
  const uint64_t rootBytes =
      (uint64_t{rootEntries_} * kEntryBytes + sectorBytes_ - 1) /
      sectorBytes_ * sectorBytes_;
  dataOffset_ = rootOffset_ + rootBytes;
  const uint64_t bytes = total * sectorBytes_;
  if (dataOffset_ >= bytes) {
    error = "its FAT file system has no room for data";
    return false;
  }
  clusters_ = static_cast<uint32_t>((bytes - dataOffset_) / clusterBytes_);
  bits_ = Le16(b + 22) == 0 ? 32 : clusters_ < 4085 ? 12 : 16;
  if (bits_ == 32) {
    rootCluster_ = Le32(b + 44);
    rootEntries_ = 0;
  }
  return ReadTable(error);
}

bool FatFileSystem::ReadTable(std::string& error) {
  const uint64_t entries = fatBytes_ * 8 / bits_;
  if (entries < uint64_t{clusters_} + 2) {
    error = "its FAT is too small for its clusters";
    return false;
  }
  std::string fat(fatBytes_, '\0');
  if (!read_(volume_.offset + fatOffset_, &fat[0], fat.size())) {
    error = "cannot read its FAT";
    return false;
  }
  const auto* p = reinterpret_cast<const unsigned char*>(fat.data());
  table_.assign(uint64_t{clusters_} + 2, 0);
  for (uint32_t c = 0; c < table_.size(); ++c) {
    if (bits_ == 32) {
      table_[c] = Le32(p + 4 * uint64_t{c}) & 0x0FFFFFFF;
    } else if (bits_ == 16) {
      table_[c] = Le16(p + 2 * uint64_t{c});
    } else {
      const uint32_t pair = Le16(p + c * 3 / 2);
      table_[c] = (c & 1) != 0 ? pair >> 4 : pair & 0xFFF;
    }
  }
  return true;
}

Extent FatFileSystem::System() const {
  return {volume_.offset, dataOffset_};
}

uint64_t FatFileSystem::ClusterOffset(uint32_t cluster) const {
  return volume_.offset + dataOffset_ +
         uint64_t{cluster - 2} * clusterBytes_;
}

bool FatFileSystem::Chain(uint32_t cluster, std::vector<uint32_t>& clusters,
                          std::string& reason) const {
  const uint32_t end = bits_ == 32 ? 0x0FFFFFF8 : bits_ == 16 ? 0xFFF8 : 0xFF8;
  clusters.clear();
  for (uint32_t c = cluster; c < end;) {
    if (c < 2 || c >= table_.size() || clusters.size() > clusters_) {
      reason = "its FAT holds a broken chain of clusters";
      return false;
    }
    clusters.push_back(c);
    c = table_[c];
  }
  return true;
}

bool FatFileSystem::Extents(uint32_t cluster, std::vector<Extent>& extents,
                            std::string& reason) {
  std::vector<uint32_t> clusters;
  if (!Chain(cluster, clusters, reason)) return false;
  extents.clear();
  for (const uint32_t c : clusters) {
    const uint64_t at = ClusterOffset(c);
    if (!extents.empty() && extents.back().offset + extents.back().size == at)
      extents.back().size += clusterBytes_;
    else
      extents.push_back({at, clusterBytes_});
  }
  return true;
}

bool FatFileSystem::ReadFolder(uint32_t cluster, std::vector<DirEntry>& entries,
                               std::string& reason) {
  std::vector<Extent> extents;
  if (cluster == 0 && bits_ != 32)
    extents.push_back({volume_.offset + rootOffset_,
                       uint64_t{rootEntries_} * kEntryBytes});
  else if (!Extents(cluster == 0 ? rootCluster_ : cluster, extents, reason))
    return false;
  entries.clear();
  LongName longName;
  size_t seen = 0;
  for (const Extent& extent : extents) {
    std::string bytes(extent.size, '\0');
    if (!read_(extent.offset, &bytes[0], bytes.size())) {
      reason = "cannot read a folder";
      return false;
    }
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    for (size_t at = 0; at + kEntryBytes <= bytes.size(); at += kEntryBytes) {
      const unsigned char* e = p + at;
      if (e[0] == 0 || ++seen > kMostEntries) return true;
      if (e[0] == 0xE5) continue;
      if (e[11] == kLongName) {
        longName.Add(e);
        continue;
      }
      const std::string name = longName.Take(e);
      if ((e[11] & kLabel) != 0) continue;
      DirEntry entry;
      entry.shortName = ShortName(e);
      entry.longName = name;
      entry.attributes = e[11];
      entry.cluster = Le16(e + 26) | (bits_ == 32 ? Le16(e + 20) << 16 : 0);
      entry.size = Le32(e + 28);
      entries.push_back(entry);
    }
  }
  return true;
}

FatFileSystem::Lookup FatFileSystem::List(const std::string& path,
                                          std::vector<DirEntry>& entries,
                                          std::string& reason) {
  if (!ReadFolder(0, entries, reason)) return Lookup::kBroken;
  for (size_t at = 1; at < path.size();) {
    const size_t end = std::min(path.find('\\', at), path.size());
    const std::string name = path.substr(at, end - at);
    at = end + 1;
    if (name.empty()) continue;
    const auto found =
        std::find_if(entries.begin(), entries.end(), [&](const DirEntry& e) {
          return e.folder() && SameShortName(e.shortName, name);
        });
    if (found == entries.end()) return Lookup::kMissing;
    const uint32_t cluster = found->cluster;
    if (cluster == 0) continue;  // ".." of a folder in the root
    if (!ReadFolder(cluster, entries, reason)) return Lookup::kBroken;
  }
  return Lookup::kFound;
}

FatFileSystem::Lookup FatFileSystem::Find(const std::string& path,
                                          DirEntry& entry,
                                          std::string& reason) {
  const size_t slash = path.rfind('\\');
  std::vector<DirEntry> entries;
  const Lookup folder = List(
      slash == 0 ? "\\" : path.substr(0, slash), entries, reason);
  if (folder != Lookup::kFound) return folder;
  const std::string name = path.substr(slash + 1);
  for (const DirEntry& e : entries)
    if (SameShortName(e.shortName, name)) {
      entry = e;
      return Lookup::kFound;
    }
  return Lookup::kMissing;
}

bool FatFileSystem::Read(const DirEntry& entry,
                         const std::function<bool(std::string_view)>& take,
                         std::string& reason) {
  if (entry.size == 0) return true;
  std::vector<Extent> extents;
  if (!Extents(entry.cluster, extents, reason)) return false;
  uint64_t left = entry.size;
  for (const Extent& extent : extents) {
    // In pieces of at most a megabyte, so that a large file is never held
    // whole here.
    for (uint64_t at = 0; at < extent.size && left > 0;) {
      const uint64_t size = std::min<uint64_t>({extent.size - at, left, 1 << 20});
      std::string bytes(size, '\0');
      if (!read_(extent.offset + at, &bytes[0], size)) {
        reason = "cannot read a file's clusters";
        return false;
      }
      if (!take(bytes)) return true;
      at += size;
      left -= size;
    }
  }
  if (left == 0) return true;
  reason = "a file's chain of clusters is shorter than the file";
  return false;
}

}  // namespace hostreg
