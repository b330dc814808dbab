// The Windows 9x/Me registry file ("CREG": SYSTEM.DAT, USER.DAT), field by
// field. All numbers are little-endian.
#ifndef REGSWITCH_HOST_FORMATS_CREG_LAYOUT_H
#define REGSWITCH_HOST_FORMATS_CREG_LAYOUT_H

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

namespace hostreg {
namespace creg {

// The file header, 32 bytes at offset 0.
constexpr size_t kFileHeaderSize = 0x20;
//   +0   "CREG"
constexpr uint32_t kVersion = 0x00010000;  // +4, the format's version
constexpr size_t kHeaderFirstBlock = 8;    // +8, offset of the first RGDB
constexpr size_t kHeaderChecksum = 12;     // +12, see checksums.h
constexpr size_t kHeaderBlockCount = 16;   // +16, 16-bit count of RGDBs
constexpr size_t kHeaderFlags = 18;        // +18, 16-bit flags, see below
//   +20..+31 kept as they were read

// The key tree ("RGKN"), right after the header: a 32-byte header and
// 28-byte key nodes. Links are offsets from the RGKN start; 0xFFFFFFFF is
// none.
constexpr size_t kRgknOffset = 0x20;
constexpr size_t kRgknHeaderSize = 0x20;
//   +0   "RGKN"
constexpr size_t kRgknSize = 4;       // +4, size of the whole key tree
constexpr size_t kRgknRoot = 8;       // +8, the root key's node
constexpr size_t kRgknFirstFree = 12;  // +12, the first free node, or none
constexpr size_t kRgknFlags = 16;     // +16, 16-bit flags, as a block's
constexpr size_t kRgknChecksum = 20;  // +20, see checksums.h

constexpr size_t kNodeSize = 28;
// Nodes sit on a grid: in the key tree's first 8 KB, every 28 bytes from the
// end of its header while the node ends by 8 KB; in every later 4 KB page,
// every 28 bytes from the page's start up to its end. Every node and free
// node of three real files (Windows 95 and Me) is on it. Off it, one node
// could overlap another that is on it.
constexpr size_t kNodePage = 0x1000;
constexpr size_t kHeaderGridEnd = 2 * kNodePage;
inline bool OnNodeGrid(size_t rel) {
  if (rel < kHeaderGridEnd)
    return rel >= kRgknHeaderSize && (rel - kRgknHeaderSize) % kNodeSize == 0 &&
           rel + kNodeSize <= kHeaderGridEnd;
  const size_t inPage = rel % kNodePage;
  return inPage % kNodeSize == 0 && inPage + kNodeSize <= kNodePage;
}
constexpr size_t kNodeMark = 0;  // +0, 0 in use, kFreeNodeMark when free
constexpr size_t kNodeHash = 4;  // +4, NodeNameHash (node_table.h)
// +8: 0xFFFFFFFF in every Windows 95 node in use; leftover links in Windows
// Me's. New nodes get 0xFFFFFFFF.
constexpr size_t kNodeUnknown = 8;
constexpr size_t kNodeParent = 12;  // +12, the parent's node
constexpr size_t kNodeChild = 16;   // +16, the first child's node
constexpr size_t kNodeNext = 20;    // +20, the next sibling's node
constexpr size_t kNodeId = 24;      // +24, 16-bit id of the key's record
constexpr size_t kNodeBlock = 26;   // +26, 16-bit number of its RGDB block
// A free node: the mark, then the size of the free stretch it begins (28
// for one node; the stretch at the end of the tree runs to its last page's
// end), then the next free node. All three real files show it so.
constexpr uint32_t kFreeNodeMark = 0x80000000;
constexpr size_t kFreeNodeSize = 4;
constexpr size_t kFreeNodeNext = 8;

// Data blocks ("RGDB") follow up to the end of the file: a 32-byte header
// and records that tile the rest of the block.
constexpr size_t kBlockHeaderSize = 32;
//   +0   "RGDB"
constexpr size_t kBlockSize = 4;           // +4, size of the whole block
constexpr size_t kBlockUnused = 8;         // +8, bytes in free records
constexpr size_t kBlockFlags = 12;         // +12, 16-bit flags, see below
constexpr size_t kBlockIndex = 14;         // +14, 16-bit block number
constexpr size_t kBlockFirstFree = 16;     // +16, first free record, or none
constexpr size_t kBlockHighestId = 20;     // +20, 16-bit highest record id
constexpr size_t kBlockLowestFreeId = 22;  // +22, 16-bit lowest unused id
//   +24  kept as it was read: in Windows 95 files 16 zero bits and 16 bits
//        of unknown meaning, covered by the checksum
constexpr size_t kBlockChecksum = 28;      // +28, see checksums.h

// The flags of the header (+18), the key tree (+16) and the data blocks
// (+12), as far as the three real files show them. Every flag found is
// written back as it was read.
//
// Header: 0x20 in both Windows Me files, 0 in the Windows 95 one. Taken to
// mean that the file carries no checksums: with it, the header's and the
// key tree's checksum fields are zero and the blocks' hold leftover bytes
// (text, pointers); without it, every field that is not marked stale (see
// 0x1) holds the checksum of its structure. Three files of two versions:
// likely, not certain.
constexpr uint16_t kHeaderNoChecksums = 0x20;
// Key tree and blocks:
// 0x8  in every block and key tree of all three files; meaning unknown. A
//      new block gets the flags that every block of its file has.
// 0x4  counted as set by every checksum that could be reproduced (the
//      Windows 95 header, whose flags are 0, too), though only two blocks
//      still carry it: Windows seems to set it while it sums a structure.
//      regutils (1998) names it "checksum valid".
// 0x2  on one Windows 95 block, with 0x1; meaning unknown.
// 0x1  the structure changed after its checksum was taken: in the Windows
//      95 file, the key tree and 16 of the 17 blocks with this flag hold a
//      checksum that no sum over their contents gives, while every
//      structure without it holds its sum exactly. Windows itself writes
//      such blocks with the stale value, so this program leaves their
//      checksum field as it was, changed or not. Sure as far as one file
//      can show it.
constexpr uint16_t kFlagCounted = 0x4;
constexpr uint16_t kFlagStale = 0x1;

// A key record: a 20-byte header, the key's name, then its values.
constexpr size_t kRecordHeaderSize = 20;
constexpr size_t kRecordSize = 0;         // +0, bytes it occupies
constexpr size_t kRecordId = 4;           // +4, 16-bit id; 0xFFFF: free
constexpr size_t kRecordBlock = 6;        // +6, 16-bit number of its block
constexpr size_t kRecordUsed = 8;         // +8, bytes its contents use
constexpr size_t kRecordNameLength = 12;  // +12, 16-bit
constexpr size_t kRecordValueCount = 14;  // +14, 16-bit
//   +16  unused
// A free record has the same size, id (0xFFFF) and block fields, then:
constexpr size_t kFreeNext = 8;        // +8, the next free record, or none
constexpr size_t kFreeRecordMin = 12;  // size, id and block, next

// A value inside a key record: a 12-byte header, the name, the data.
constexpr size_t kValueHeaderSize = 12;
constexpr size_t kValueType = 0;        // +0, the registry type
constexpr size_t kValueReserved = 4;    // +4, kept as it was read
constexpr size_t kValueNameLength = 8;  // +8, 16-bit
constexpr size_t kValueDataLength = 10;  // +10, 16-bit

constexpr uint32_t kNone = 0xFFFFFFFF;
constexpr uint16_t kNoId = 0xFFFF;
// What Windows itself writes into a new value's reserved field.
constexpr uint32_t kNewValueReserved = 0xFFFFFFFF;
// Windows numbers records in a block from 0 up to 0xFE.
constexpr size_t kMaxRecordsPerBlock = 0xFF;
constexpr size_t kMaxBlocks = 0xFFFF;
// New blocks come in whole pages.
constexpr size_t kBlockGranularity = 0x1000;
// A leftover smaller than this stays with the record that took the space
// rather than becoming a free record of its own; readers parse every
// record, free ones too, with a key record's header.
constexpr size_t kSplitMin = 20;

inline uint32_t Get32(const char* at) {
  const auto* p = reinterpret_cast<const unsigned char*>(at);
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

inline uint16_t Get16(const char* at) {
  const auto* p = reinterpret_cast<const unsigned char*>(at);
  return static_cast<uint16_t>(p[0] | p[1] << 8);
}

inline void Put32(char* at, uint32_t v) {
  for (int i = 0; i < 4; ++i)
    at[i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}

inline void Put16(char* at, uint16_t v) {
  at[0] = static_cast<char>(v & 0xFF);
  at[1] = static_cast<char>(v >> 8);
}

inline uint32_t Get32(const std::string& s, size_t at) {
  return Get32(s.data() + at);
}
inline uint16_t Get16(const std::string& s, size_t at) {
  return Get16(s.data() + at);
}
inline void Put32(std::string& s, size_t at, uint32_t v) { Put32(&s[at], v); }
inline void Put16(std::string& s, size_t at, uint16_t v) { Put16(&s[at], v); }

// An offset or size in messages.
inline std::string Hex(size_t n) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%zx", n);
  return text;
}

// The bytes a value occupies in its record, header included.
inline size_t ValueLength(const std::string& s, size_t at) {
  return kValueHeaderSize + Get16(s, at + kValueNameLength) +
         size_t{Get16(s, at + kValueDataLength)};
}

}  // namespace creg
}  // namespace hostreg

#endif
