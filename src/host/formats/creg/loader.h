// Reading a CREG file into the registry, every structure checked.
#ifndef REGSWITCH_HOST_FORMATS_CREG_LOADER_H
#define REGSWITCH_HOST_FORMATS_CREG_LOADER_H

#include <string>

#include "host/formats/creg/hive.h"

namespace hostreg {
namespace creg {

// Loads `hive.contents` into `registry` (its root is the file's root key)
// and fills in the hive's blocks and records. A file whose structure is
// broken is refused: false and `error` reads "NAME: why (at offset 0x...)".
bool Load(const std::string& name, Hive& hive, Registry& registry,
          std::string& error);

}  // namespace creg
}  // namespace hostreg

#endif
