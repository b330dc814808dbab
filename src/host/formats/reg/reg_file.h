// Registry export files (.reg) as the host registry's storage.
#ifndef REGSWITCH_REG_FILE_H
#define REGSWITCH_REG_FILE_H

#include <memory>
#include <string>

#include "host/formats/storage.h"

namespace hostreg {

// Parses a registry export into `registry`: REGEDIT4 text, or a "Windows
// Registry Editor Version 5.00" export in UTF-16LE with its byte-order mark.
// The storage saves in the format and line endings it read. `name` is used in
// messages only. On failure returns null and `error` reads "NAME:LINE: why".
std::unique_ptr<Storage> ParseRegFile(const std::string& path,
                                      const std::string& name,
                                      std::string contents, Registry& registry,
                                      std::string& error);
// The same over bytes that may be a mapped file, which the storage and the
// registry keep for as long as they live.
std::unique_ptr<Storage> ParseRegFile(const std::string& path,
                                      const std::string& name,
                                      std::shared_ptr<const FileBytes> bytes,
                                      Registry& registry, std::string& error);

// One value as a REGEDIT4 line: a quoted string for a plain REG_SZ, dword:
// for a four-byte REG_DWORD, hex: or hex(N): otherwise, wrapped as regedit
// wraps with `eol` between lines.
std::string FormatRegValue(const Value& value, const std::string& eol);

// "[HKEY_LOCAL_MACHINE\path]" for a key.
std::string FormatRegKeyLine(const Registry& registry, const Key& key);

}  // namespace hostreg

#endif
