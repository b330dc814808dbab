// Registry export files (.reg) as the host registry's storage, read as
// Windows' registry editor imports them: REGEDIT4 and "Windows Registry
// Editor Version 5.00", in 8-bit text (code page 1252), UTF-8 after its
// byte-order mark or UTF-16LE after its byte-order mark. A file is saved in
// the encoding and line endings it was read in.
#ifndef REGSWITCH_HOST_FORMATS_REG_REG_FILE_H
#define REGSWITCH_HOST_FORMATS_REG_REG_FILE_H

#include <memory>
#include <string>

#include "host/files/file_bytes.h"
#include "host/formats/registry_file.h"

namespace hostreg {

// Loads the file's bytes into `registry`; they stay with the returned file
// and the registry for as long as either lives. `name` is used in messages
// only. On failure (no header the editor takes, or a NUL byte) returns null
// and `error` reads "NAME:LINE: why".
std::unique_ptr<RegistryFile> LoadRegFile(
    const std::string& name, std::shared_ptr<const FileBytes> bytes,
    Registry& registry, std::string& error);

}  // namespace hostreg

#endif
