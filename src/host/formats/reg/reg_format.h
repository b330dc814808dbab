// Registry export files (.reg) as the host registry's storage, read as
// Windows' registry editor imports them: REGEDIT4 and "Windows Registry
// Editor Version 5.00", in 8-bit text (code page 1252), UTF-8 after its
// byte-order mark or UTF-16LE after its byte-order mark. A file is saved in
// the encoding and line endings it was read in.
#ifndef REGSWITCH_HOST_FORMATS_REG_REG_FORMAT_H
#define REGSWITCH_HOST_FORMATS_REG_REG_FORMAT_H

#include <memory>
#include <string>

#include "host/files/file_bytes.h"
#include "host/formats/reg/importer.h"
#include "host/formats/reg/reg_text.h"
#include "host/formats/registry_file.h"

namespace hostreg {

// Loads the file's bytes into `registry`; they stay with the returned file
// and the registry for as long as either lives. `name` is used in messages
// only. On failure (no header the editor takes, or a NUL byte) returns null
// and `error` reads "NAME:LINE: why".
std::unique_ptr<RegistryFile> LoadRegExport(
    const std::string& name, std::shared_ptr<const FileBytes> bytes,
    Registry& registry, std::string& error);

// A .reg file's header as the editor reads it.
struct RegHead {
  std::string header;     // REGEDIT4, the Version 5.00 line, or what it was
  bool imported = false;  // false: the editor imports nothing under it
  std::string eol;        // the header line's ending
  size_t bodyStart = 0;   // where the line after it starts
};

// The file's text, its encoding and header checked as the editor checks
// them (a NUL byte in the header line too); null and `error` reads
// "NAME:LINE: why" for a file the editor refuses. Notes what it skips.
std::shared_ptr<RegText> OpenRegText(const std::string& name,
                                     std::shared_ptr<const FileBytes> bytes,
                                     RegHead& head, SkipNotes& notes,
                                     std::string& error);

}  // namespace hostreg

#endif
