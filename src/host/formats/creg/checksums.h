// The checksums of a Windows 95 registry file: which structures carry one,
// how it is computed, whether a file's stored values hold, and keeping them
// true when a save changes a structure.
//
// The rule was worked out from a real Windows 95 SYSTEM.DAT (the copy Setup
// keeps as SYSTEM.1ST), and public write-ups from 1998 describe the same:
// regutils (Michael Rendell, Memorial University of Newfoundland, 1998)
// names the flag 0x4 "checksum valid" (REG_FLAG_CSUMVALID) and checks that
// a structure carrying it sums to 0 over its 32-bit words. Each of the
// header, the key tree and every data block has a 32-bit checksum:
//
//   0 - (the 32-bit sum of the structure's little-endian 4-byte words,
//        the checksum itself taken as 0 and the structure's flags word
//        with kFlagCounted set)
//
// It gives the stored value of the header and of all six blocks that are
// not marked stale, and of one stale block besides (see layout.h): the
// value holds with 0x4 counted even where the flag is no longer set. The key
// tree's field is taken to follow the same rule, which that file cannot
// confirm as its key tree is marked stale; wherever a key tree is not
// stale, its stored value is checked against the rule before a save relies
// on it.
#ifndef REGSWITCH_HOST_FORMATS_CREG_CHECKSUMS_H
#define REGSWITCH_HOST_FORMATS_CREG_CHECKSUMS_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace hostreg {
namespace creg {

// One checksum field and the structure it covers.
struct ChecksumField {
  std::string what;      // "the header", "the key tree", "data block 3"
  size_t start = 0;      // the structure's first byte
  size_t size = 0;       // and how many bytes it covers
  size_t flags = 0;      // file offset of its 16-bit flags word
  size_t field = 0;      // file offset of the checksum
  bool stale = false;    // marked as changed since its checksum was taken
};

// Whether the file's checksum fields hold checksums at all (Windows Me's
// files carry none).
bool CarriesChecksums(const std::string& d);

// The header's, the key tree's and every data block's field, in file
// order, for a file whose structure has been checked.
std::vector<ChecksumField> ChecksumFields(const std::string& d);

// The field's value by the rule; false when the rule does not cover the
// structure (a size that is not a whole number of 4-byte words).
bool ComputeChecksum(const std::string& d, const ChecksumField& field,
                     uint32_t& sum);

// Why a save must not go ahead because of the file's checksums, naming the
// first field that does not hold its rule's value or that no known rule
// covers; empty when a save may go ahead.
std::string ChecksumRefusal(const std::string& d);

// After a save changed `after` from `before`: gives every field that is in
// force and whose structure changed (or is new) its rule's value. Stale
// fields stay as they were, as Windows leaves them. False and the reason
// when a field cannot be computed.
bool UpdateChecksums(const std::string& before, std::string& after,
                     std::string& error);

}  // namespace creg
}  // namespace hostreg

#endif
