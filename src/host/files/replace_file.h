// Replacing a file safely: a temporary file beside it, given the
// original's owner and mode, flushed, and renamed over it once the original
// is known to be unchanged.
#ifndef REGSWITCH_HOST_FILES_REPLACE_FILE_H
#define REGSWITCH_HOST_FILES_REPLACE_FILE_H

#include <string>
#include <string_view>
#include <vector>

#include "host/files/file_bytes.h"
#include "host/files/locked_file.h"
#include "host/platform/platform.h"

namespace hostreg {

// Replaces `path` (through a symbolic link: the link stays a link) with the
// pieces written one after the other. Pieces that lie within the bytes
// `original` mapped are copied from its file rather than written from
// memory. Refuses a file that is read-only (no write permission for its
// owner, even for root), that this user may not write, whose owner and
// group the new file cannot keep, or that has more than one hard link;
// and, with `mustBeUnchanged`, a file that is no longer the version
// `original` read. On failure the file is as it was, no temporary file is
// left, and `error` says why ("cannot write: No space left on device").
// The temporary files' names: the prefix and six letters or digits.
constexpr const char* kTemporaryPrefix = ".regswitch-";
bool IsTemporaryName(const std::string& name);

// Why a save of `path` would be refused before anything is written (a
// read-only file, a folder that takes no new file, ...); empty when it
// would go ahead, for a dry run to say so first.
std::string WhyNotReplaceable(Platform& platform, const std::string& path);

// Before it writes, the temporary files a killed run left beside the file
// are removed: those of that name that no run holds the lock of.
bool ReplaceFile(Platform& platform, const std::string& path,
                 const std::vector<std::string_view>& pieces,
                 const LockedFile& original, bool mustBeUnchanged,
                 std::string& error);

// Keeps the file `original` read, as it read it, in a new file beside
// `path` (through a symbolic link: beside the file it names), with its
// owner, mode and extended attributes: "NAME.bak", else "NAME.bak2", "NAME.bak3"... up to
// "NAME.bak99", never replacing a file that is there. `kept` is its path.
// On failure no file is left and `error` says why.
bool KeepCopy(Platform& platform, const std::string& path,
              const LockedFile& original, std::string& kept,
              std::string& error);

// Puts `text` in `path`, replacing what is there, through a temporary file
// beside it that is flushed and renamed over it: a file is whole or not
// there at all, mode 0644, as a new file of this user's.
bool WriteWholeFile(Platform& platform, const std::string& path,
                    std::string_view text, std::string& error);

}  // namespace hostreg

#endif
