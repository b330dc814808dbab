#include "host/image/windows_folder.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <utility>
#include <vector>

namespace hostreg {

namespace {

// A line longer than this is no line of settings; only its start is kept.
constexpr size_t kLongestLine = 4096;
// DOS paths are at most 64 characters from the root.
constexpr size_t kLongestPath = 64;

std::string_view Trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
    text.remove_prefix(1);
  while (!text.empty() &&
         (text.back() == ' ' || text.back() == '\t' || text.back() == '\r'))
    text.remove_suffix(1);
  return text;
}

bool SameWord(std::string_view a, const char* b) {
  if (a.size() != std::strlen(b)) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (std::toupper(static_cast<unsigned char>(a[i])) != b[i]) return false;
  return true;
}

// One name of a DOS path: not empty, not "." or "..", none of the
// characters short names cannot hold.
bool DosName(std::string_view name) {
  if (name.empty() || name == "." || name == ".." || name.size() > 12)
    return false;
  for (const char c : name)
    if (static_cast<unsigned char>(c) < 0x20 ||
        std::strchr("\"*+,/:;<=>?[]|", c) != nullptr)
      return false;
  return true;
}

bool ParseFolder(std::string_view value, DosFolder& folder) {
  folder = DosFolder();
  if (value.empty()) return false;
  if (value.size() >= 2 && value[1] == ':') {
    if (!std::isalpha(static_cast<unsigned char>(value[0]))) return false;
    folder.letter =
        static_cast<char>(std::toupper(static_cast<unsigned char>(value[0])));
    value.remove_prefix(2);
  }
  while (!value.empty() && value.back() == '\\') value.remove_suffix(1);
  while (!value.empty() && value.front() == '\\') value.remove_prefix(1);
  if (value.size() > kLongestPath) return false;
  for (size_t at = 0; at <= value.size() && !value.empty();) {
    const size_t end = std::min(value.find('\\', at), value.size());
    const std::string_view name = value.substr(at, end - at);
    if (!DosName(name)) return false;
    folder.path += "\\";
    folder.path += name;
    at = end + 1;
  }
  if (folder.path.empty()) folder.path = "\\";
  return true;
}

std::string Folder(const WindowsFolder& f) {
  return DosPath(f.volume.letter, f.path);
}

// What the search learnt about one volume.
struct Candidate {
  const FatVolume* volume;
  std::string path;  // the Windows folder to look for, or empty
  std::string note;  // why there is none, or what was found
  bool ownWinDir = false;
};

class Search {
 public:
  Search(const DiskLayout& layout, VolumeFiles& files)
      : layout_(layout), files_(files) {}

  // Reads every volume's MSDOS.SYS, since one may name a folder on another
  // volume by its letter.
  void ReadMsdosSys() {
    for (const FatVolume& volume : layout_.fat) {
      Candidate c{&volume, "", "", false};
      std::string reason, problem;
      DosFolder named;
      WinDirScanner scanner;
      const auto take = [&scanner](std::string_view piece) {
        return scanner.Take(piece);
      };
      switch (files_.Read(volume, "\\MSDOS.SYS", take, reason)) {
        case VolumeFiles::Lookup::kBroken:
          c.note = "cannot read its file system: " + reason;
          break;
        case VolumeFiles::Lookup::kMissing:
          break;
        case VolumeFiles::Lookup::kFound:
          switch (scanner.Finish(named, problem)) {
            case WinDirLine::kNone:
              break;
            case WinDirLine::kBad:
              c.ownWinDir = true;
              c.note = "its MSDOS.SYS has " + problem;
              break;
            case WinDirLine::kFound:
              c.ownWinDir = true;
              named_.push_back({&volume, named});
              c.note =
                  "its MSDOS.SYS names " + DosPath(named.letter, named.path);
              break;
          }
      }
      candidates_.push_back(c);
    }
  }

  // The folder each volume would hold Windows in.
  void ChooseFolders() {
    for (Candidate& c : candidates_) {
      for (const auto& [from, folder] : named_) {
        const bool mine = folder.letter == 0
                              ? from == c.volume
                              : folder.letter == c.volume->letter;
        if (mine && (c.path.empty() || from == c.volume)) c.path = folder.path;
      }
      if (c.path.empty() && !c.ownWinDir && c.note.empty())
        c.path = "\\WINDOWS";
    }
  }

  // The volumes whose folder exists.
  std::vector<WindowsFolder> Look(int partition) {
    std::vector<WindowsFolder> found;
    for (Candidate& c : candidates_) {
      if (partition != 0 && c.volume->number != partition) continue;
      if (c.path.empty()) continue;
      std::string reason;
      const WindowsFolder folder{*c.volume, c.path};
      switch (files_.Find(*c.volume, c.path, reason)) {
        case VolumeFiles::Lookup::kFound:
          found.push_back(folder);
          break;
        case VolumeFiles::Lookup::kMissing:
          c.note = (c.note.empty() ? "" : c.note + ", but ") + "no " +
                   Folder(folder);
          break;
        case VolumeFiles::Lookup::kBroken:
          c.note = "cannot read its file system: " + reason;
          break;
      }
    }
    return found;
  }

  // What each volume looked searched holds, for a message.
  std::string Notes(int partition) const {
    std::string text;
    for (const Candidate& c : candidates_) {
      if (partition != 0 && c.volume->number != partition) continue;
      text += (text.empty() ? "" : "; ") + DescribeVolume(*c.volume) + ": " +
              (c.note.empty() ? "no Windows folder" : c.note);
    }
    return text;
  }

 private:
  const DiskLayout& layout_;
  VolumeFiles& files_;
  std::vector<Candidate> candidates_;
  std::vector<std::pair<const FatVolume*, DosFolder>> named_;
};

bool PartitionIsFat(const DiskLayout& layout, int partition,
                    std::string& error) {
  if (partition == 0) return true;
  if (!layout.partitioned) {
    error =
        "no partition table (a FAT volume fills the image); leave out "
        "--partition";
    return false;
  }
  std::string list;
  for (const FatVolume& v : layout.fat) {
    if (v.number == partition) return true;
    list += (list.empty() ? "" : ", ") + std::to_string(v.number);
  }
  const std::string prefix = "partition " + std::to_string(partition) + ":";
  for (const std::string& other : layout.others)
    if (other.compare(0, prefix.size(), prefix) == 0) {
      error = other + "; its FAT partitions are " + list;
      return false;
    }
  error = "no partition " + std::to_string(partition) +
          "; its FAT partitions are " + list;
  return false;
}

}  // namespace

std::string DosPath(char letter, const std::string& path) {
  return letter == 0 ? path : std::string(1, letter) + ":" + path;
}

bool WinDirScanner::Line(std::string_view line) {
  const size_t equals = line.find('=');
  if (equals == std::string_view::npos ||
      !SameWord(Trim(line.substr(0, equals)), "WINDIR"))
    return true;
  const std::string_view value = Trim(line.substr(equals + 1));
  if (ParseFolder(value, folder_)) {
    result_ = WinDirLine::kFound;
  } else {
    result_ = WinDirLine::kBad;
    problem_ = "WinDir=" + std::string(value) + ", which is no DOS folder";
  }
  return false;
}

bool WinDirScanner::Take(std::string_view piece) {
  if (result_ != WinDirLine::kNone) return false;
  while (!piece.empty()) {
    const size_t end = piece.find('\n');
    const std::string_view part = piece.substr(0, end);
    partial_.append(part.substr(0, kLongestLine - std::min(kLongestLine,
                                                           partial_.size())));
    if (end == std::string_view::npos) return true;
    piece.remove_prefix(end + 1);
    const bool more = Line(partial_);
    partial_.clear();
    if (!more) return false;
  }
  return true;
}

WinDirLine WinDirScanner::Finish(DosFolder& folder, std::string& problem) {
  if (result_ == WinDirLine::kNone && !partial_.empty()) Line(partial_);
  partial_.clear();
  folder = folder_;
  problem = problem_;
  return result_;
}

WinDirLine ParseWinDir(std::string_view text, DosFolder& folder,
                       std::string& problem) {
  WinDirScanner scanner;
  scanner.Take(text);
  return scanner.Finish(folder, problem);
}

bool FindWindowsFolder(const DiskLayout& layout, int partition,
                       VolumeFiles& files, WindowsFolder& found,
                       std::string& error) {
  if (!PartitionIsFat(layout, partition, error)) return false;
  Search search(layout, files);
  search.ReadMsdosSys();
  search.ChooseFolders();
  const std::vector<WindowsFolder> folders = search.Look(partition);
  if (folders.size() == 1) {
    found = folders.front();
    return true;
  }
  if (folders.empty()) {
    error = "no Windows folder found: " + search.Notes(partition);
    return false;
  }
  error = "Windows folders on ";
  for (size_t i = 0; i < folders.size(); ++i)
    error += (i == 0                    ? ""
              : i + 1 == folders.size() ? " and "
                                        : ", ") +
             DescribeVolume(folders[i].volume) + " " + Folder(folders[i]);
  error += "; choose one with --partition N";
  return false;
}

}  // namespace hostreg
