// The one place that picks a registry file's format: by its contents, not
// its name (SYSTEM.DAT and USER.DAT are CREG files, anything else is taken
// for a .reg export).
#ifndef REGSWITCH_HOST_FORMATS_PICK_FORMAT_H
#define REGSWITCH_HOST_FORMATS_PICK_FORMAT_H

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

#include "host/files/file_bytes.h"
#include "host/formats/registry_file.h"

namespace hostreg {

// Bytes that a file's first four start are the CREG signature.
constexpr size_t kSignatureSize = 4;

// Whether a file of `size` bytes starting with `head` is best mapped (an
// export, so that the pages already parsed can leave memory while the rest
// loads) rather than read whole (CREG files are small; a file that tells
// no size must be read to its end).
bool MapsWell(std::string_view head, size_t size);

// Loads the bytes into `registry`. On failure returns null and `error`
// names the file (`name`) and, where there is one, the line.
std::unique_ptr<RegistryFile> LoadRegistry(
    const std::string& name, std::shared_ptr<const FileBytes> bytes,
    Registry& registry, std::string& error);

}  // namespace hostreg

#endif
