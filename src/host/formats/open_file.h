// The one place that picks a registry file's format: by its contents, not
// its name (SYSTEM.DAT and USER.DAT are CREG files, anything else is taken
// for a .reg export).
#ifndef REGSWITCH_HOST_FORMATS_OPEN_FILE_H
#define REGSWITCH_HOST_FORMATS_OPEN_FILE_H

#include <memory>
#include <string>
#include <string_view>

#include "host/files/locked_file.h"
#include "host/files/system_calls.h"
#include "host/formats/registry_file.h"

namespace hostreg {

// Whether a file starting with `head` is read as a Windows 9x registry
// file (SYSTEM.DAT, USER.DAT) rather than as an export.
bool IsWindows9xRegistryFile(std::string_view head);

// Loads the file at `path` into `registry`. On failure returns null and
// `error` names the file and, where there is one, the line.
std::unique_ptr<RegistryFile> LoadRegistryFile(const std::string& path,
                                               Registry& registry,
                                               const SystemCalls& calls,
                                               std::string& error);

// The same for bytes in memory; `name` is used in messages.
std::unique_ptr<RegistryFile> LoadRegistryBytes(const std::string& name,
                                                std::string bytes,
                                                Registry& registry,
                                                std::string& error);

// Replaces the file at `path` with the registry's changes written in, whole
// or not at all; with `original`, only while the file is still the version
// it locked. False and the reason when it cannot; the file is then as it
// was.
bool SaveRegistryFile(const std::string& path, const RegistryFile& file,
                      const Registry& registry, const SystemCalls& calls,
                      std::string& error,
                      const LockedFile* original = nullptr);

// The same for changes already rendered, for a run that renders every file
// before it writes any.
bool SaveRendering(const std::string& path, const RegistryFile& file,
                   const Rendering& rendering, const SystemCalls& calls,
                   std::string& error, const LockedFile* original);

}  // namespace hostreg

#endif
