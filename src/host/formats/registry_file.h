// What every registry file format gives the host program once it has
// loaded a file into a registry: the file's new contents with a run's
// changes, the changes for review, and why a save would be refused.
#ifndef REGSWITCH_HOST_FORMATS_REGISTRY_FILE_H
#define REGSWITCH_HOST_FORMATS_REGISTRY_FILE_H

#include <deque>
#include <string>
#include <string_view>
#include <vector>

#include "host/formats/changes.h"
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

  // The file's contents with `changes` (the registry's, collected once);
  // false and the reason when they cannot be written safely.
  virtual bool Render(const Registry& registry, const ChangeSet& changes,
                      Rendering& out, std::string& error) const = 0;
  // The changes as a .reg fragment, for review; empty when there are none.
  virtual std::string DescribeChanges(const Registry& registry,
                                      const ChangeSet& changes) const = 0;
  // Why saving the changes would be refused, for a dry run to say so
  // before it shows them; empty when a save could go ahead.
  virtual std::string SaveRefusal(const Registry& registry,
                                  const ChangeSet& changes) const = 0;
  // What loading passed over as Windows' importer would, one note a line
  // ("NAME:LINE: skipped, ..."); none for most files.
  virtual const std::vector<std::string>& Warnings() const;
  // For a machine's registry whose Windows keeps HKEY_CLASSES_ROOT in a
  // file of its own rather than in this file's SOFTWARE\Classes (Windows
  // Me: CLASSES.DAT), why, for messages; empty for most files.
  virtual std::string ClassesElsewhere() const;
};

}  // namespace hostreg

#endif
