// What every registry file format gives the host program: the file's new
// contents with a run's changes, and the changes for review.
#ifndef REGSWITCH_HOST_FORMATS_REGISTRY_FILE_H
#define REGSWITCH_HOST_FORMATS_REGISTRY_FILE_H

#include <deque>
#include <string>
#include <string_view>
#include <vector>

#include "host/files/file_bytes.h"
#include "host/registry/registry.h"

namespace hostreg {

// A file's contents as pieces written one after the other, so that a large
// file is never held twice: most pieces point into the loaded file.
struct Rendering {
  std::vector<std::string_view> pieces;
  std::deque<std::string> owned;  // text that the other pieces point into

  void Add(std::string text) {
    owned.push_back(std::move(text));
    pieces.push_back(owned.back());
  }
  std::string Joined() const;
};

class RegistryFile {
 public:
  virtual ~RegistryFile() = default;

  // The file's contents with the registry's changes; false and the reason
  // when they cannot be written safely.
  virtual bool Render(const Registry& registry, Rendering& out,
                      std::string& error) const = 0;
  // The changes as a .reg fragment, for review; empty when there are none.
  virtual std::string DescribeChanges(const Registry& registry) const = 0;
  // Why saving the registry's changes to this file would be refused, for a
  // dry run to say so before it shows them; empty when a save could go
  // ahead.
  virtual std::string SaveRefusal(const Registry&) const { return {}; }
  // The loaded file that pieces may point into, so that saving copies those
  // stretches file to file; null when there is none.
  virtual const FileBytes* Source() const { return nullptr; }
  // The file's bytes as they were loaded, for putting a saved file back.
  virtual std::string_view Original() const = 0;
  // What loading passed over as Windows' importer would, one note a line
  // ("NAME:LINE: skipped, ..."); none for most files.
  virtual const std::vector<std::string>& Warnings() const;

  // Render's contents as one string.
  bool RenderText(const Registry& registry, std::string& contents,
                  std::string& error) const;
};

}  // namespace hostreg

#endif
