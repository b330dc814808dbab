// Merging a .reg file into registry files, offline: the file's statements
// applied as Windows' importer applies them on a Windows 9x machine, each
// to the file that holds its root.
#ifndef REGSWITCH_HOST_FORMATS_MERGE_MERGE_H
#define REGSWITCH_HOST_FORMATS_MERGE_MERGE_H

#include <memory>
#include <string>

#include "host/files/file_bytes.h"
#include "host/formats/reg/importer.h"
#include "host/registry/registry.h"

namespace hostreg {

// The registries a merge reaches. Windows 9x keeps HKEY_LOCAL_MACHINE in
// SYSTEM.DAT, with HKEY_CLASSES_ROOT as its SOFTWARE\Classes, and
// HKEY_USERS in USER.DAT, where a machine without user profiles keeps
// HKEY_CURRENT_USER as HKEY_USERS\.DEFAULT. Windows Me keeps
// HKEY_CLASSES_ROOT, and so HKEY_LOCAL_MACHINE\SOFTWARE\Classes, in
// CLASSES.DAT, whose root it is.
struct MergeTargets {
  Registry* machine = nullptr;
  Registry* users = nullptr;
  Registry* classes = nullptr;  // CLASSES.DAT
  // Why the machine's registry does not hold HKEY_CLASSES_ROOT (its file
  // is Windows Me's); empty when it does.
  std::string classesApart;

  // HKEY_CLASSES_ROOT is a file of its own, given or not.
  bool ClassesInOwnFile() const {
    return classes != nullptr || !classesApart.empty();
  }
};

// Applies the file's statements in order: key lines make their keys,
// deletions take keys with their trees and values out, values are set;
// lines the importer skips are noted and change nothing. False and `error`
// ("NAME:LINE: why") for a file the importer refuses whole, and for a line
// whose root no target holds; the registries may then hold part of the
// merge, and must not be saved.
bool ApplyMerge(const std::string& name, std::shared_ptr<const FileBytes> bytes,
                const MergeTargets& targets, SkipNotes& notes,
                std::string& error);

}  // namespace hostreg

#endif
