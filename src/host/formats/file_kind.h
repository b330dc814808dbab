// Files that are no registry file, named for what they are, with the
// option that works for them: a disk image given as a registry, an NT
// hive, a packed file.
#ifndef REGSWITCH_HOST_FORMATS_FILE_KIND_H
#define REGSWITCH_HOST_FORMATS_FILE_KIND_H

#include <string>
#include <string_view>

namespace hostreg {

// What a file starting with `head` is ("a qcow2 disk image, not a registry
// file: use --image"), when its first bytes say it is a kind regswitch
// knows and no .reg export; empty otherwise. `head` is the file's first
// 4 KB or more (less for a shorter file).
std::string ForeignKind(std::string_view head);

}  // namespace hostreg

#endif
