// A .reg file read statement by statement as the registry editor imports
// it, with key paths, value names and data decoded: what a merge applies
// to a registry.
#ifndef REGSWITCH_HOST_FORMATS_REG_IMPORT_READER_H
#define REGSWITCH_HOST_FORMATS_REG_IMPORT_READER_H

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/win32_types.h"
#include "host/files/file_bytes.h"
#include "host/formats/reg/key_line.h"
#include "host/formats/reg/reg_loader.h"
#include "host/formats/reg/statement.h"

namespace hostreg {

struct ImportStatement {
  StatementKind kind = StatementKind::kNothing;
  size_t line = 0;  // its first line
  // Why the editor skips the statement (kSkipped), or why a key line or
  // deletion names no key it would open (its values go with it).
  const char* why = nullptr;
  KeyRoot root = KeyRoot::kLocalMachine;
  std::vector<std::string> path;  // key statements: the names below the root
  std::string name;               // value statements
  DWORD type = REG_NONE;
  std::string data;
};

// Calls `visit` with each statement in file order, until it returns false.
// False and `error` ("NAME:LINE: why") for a file the editor refuses whole:
// no header it takes, a NUL byte, an encoding it does not read. A header
// that makes the editor import nothing yields no statement and a note.
bool ReadImport(const std::string& name,
                std::shared_ptr<const FileBytes> bytes,
                const std::function<bool(const ImportStatement&)>& visit,
                SkipNotes& notes, std::string& error);

}  // namespace hostreg

#endif
