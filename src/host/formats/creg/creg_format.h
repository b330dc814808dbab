// Windows 9x/Me registry files (SYSTEM.DAT, USER.DAT: the "CREG" format) as
// the host registry's storage, so the tweaks can be applied offline to a
// machine's own registry.
#ifndef REGSWITCH_HOST_FORMATS_CREG_CREG_FORMAT_H
#define REGSWITCH_HOST_FORMATS_CREG_CREG_FORMAT_H

#include <memory>
#include <string>
#include <string_view>

#include "host/formats/registry_file.h"

namespace hostreg {

// Whether the bytes start with the CREG signature.
bool IsCregFile(std::string_view head);

// Reads a CREG file into `registry`. `name` is used in messages only. A
// file whose structure is broken is refused: null, and `error` reads
// "NAME: not a usable Windows 9x registry file: why (at offset 0x...)".
std::unique_ptr<RegistryFile> LoadCregFile(const std::string& name,
                                           std::string_view contents,
                                           Registry& registry,
                                           std::string& error);

}  // namespace hostreg

#endif
