// Writing a run's changes into a copy of a CREG file.
#ifndef REGSWITCH_HOST_FORMATS_CREG_WRITER_H
#define REGSWITCH_HOST_FORMATS_CREG_WRITER_H

#include <string>

#include "host/formats/changes.h"
#include "host/formats/creg/hive.h"

namespace hostreg {
namespace creg {

// The file with the changed keys' records rewritten: in place when the new
// contents fit, otherwise grown into free space right behind, moved to free
// space elsewhere in the block, or moved to a new block at the end, with
// the key nodes, free lists and block headers kept consistent, and the
// checksums of the structures that changed recomputed where the file
// carries them in force (checksums.h). Every other byte stays as it was.
// False and the reason when a change cannot be written safely.
bool Write(const Hive& hive, const Registry& registry,
           const ChangeSet& changes, std::string& out, std::string& error);

}  // namespace creg
}  // namespace hostreg

#endif
