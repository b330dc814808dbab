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
bool ReplaceFile(Platform& platform, const std::string& path,
                 const std::vector<std::string_view>& pieces,
                 const LockedFile& original, bool mustBeUnchanged,
                 std::string& error);

// Whether ReplaceFile would take `path` as it is now (see there); false
// and why.
bool CanReplace(Platform& platform, const std::string& path,
                std::string& error);

// Keeps the file `original` read, as it read it, in a new file beside
// `path` (through a symbolic link: beside the file it names), with its
// owner and mode: "NAME.bak", else "NAME.bak2", "NAME.bak3"... up to
// "NAME.bak99", never replacing a file that is there. `kept` is its path.
// On failure no file is left and `error` says why.
bool KeepCopy(Platform& platform, const std::string& path,
              const LockedFile& original, std::string& kept,
              std::string& error);

// Puts `text` in `path`, replacing what is there, through a temporary file
// beside it that is flushed and renamed over it: a file is whole or not
// there at all. A new file gets mode 0644, a replaced one keeps its mode.
bool WriteWholeFile(Platform& platform, const std::string& path,
                    std::string_view text, std::string& error);

}  // namespace hostreg

#endif
