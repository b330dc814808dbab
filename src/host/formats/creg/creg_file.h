// Windows 9x/Me registry files (SYSTEM.DAT, USER.DAT: the "CREG" format) as
// the host registry's storage, so the tweaks can be applied offline to a
// machine's own registry.
#ifndef REGSWITCH_CREG_FILE_H
#define REGSWITCH_CREG_FILE_H

#include <memory>
#include <string>

#include "host/formats/storage.h"

namespace hostreg {

// Whether `contents` starts with the CREG signature.
bool IsCregFile(const std::string& contents);

// Reads a CREG file into `registry` (its root is the file's root key). `name`
// is used in messages only. A file whose structure is broken is refused: null
// and `error` reads "NAME: why (at offset 0x...)".
std::unique_ptr<Storage> ParseCregFile(const std::string& path,
                                       const std::string& name,
                                       std::string contents, Registry& registry,
                                       std::string& error);

}  // namespace hostreg

#endif
