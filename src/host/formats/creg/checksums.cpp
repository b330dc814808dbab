#include "host/formats/creg/checksums.h"

#include <utility>

#include "host/formats/creg/layout.h"

namespace hostreg {
namespace creg {

namespace {

ChecksumField Field(std::string what, size_t start, size_t size,
                    size_t flagsAt, size_t fieldAt, bool canBeStale,
                    const std::string& d) {
  ChecksumField field;
  field.what = std::move(what);
  field.start = start;
  field.size = size;
  field.flags = start + flagsAt;
  field.field = start + fieldAt;
  // The header's flags say other things (kHeaderNoChecksums); no header
  // has been seen with a stale checksum, so it is always checked.
  field.stale = canBeStale && (Get16(d, field.flags) & kFlagStale) != 0;
  return field;
}

std::string NotComputable(const ChecksumField& field) {
  return "the checksum of " + field.what + " (at offset " + Hex(field.field) +
         ") cannot be computed: its size " + Hex(field.size) +
         " is not a whole number of 4-byte words";
}

}  // namespace

bool CarriesChecksums(const std::string& d) {
  return (Get16(d, kHeaderFlags) & kHeaderNoChecksums) == 0;
}

std::vector<ChecksumField> ChecksumFields(const std::string& d) {
  std::vector<ChecksumField> fields;
  fields.push_back(Field("the header", 0, kFileHeaderSize, kHeaderFlags,
                         kHeaderChecksum, false, d));
  fields.push_back(Field("the key tree", kRgknOffset,
                         Get32(d, kRgknOffset + kRgknSize), kRgknFlags,
                         kRgknChecksum, true, d));
  size_t index = 0;
  for (size_t at = Get32(d, kHeaderFirstBlock); at < d.size();
       at += Get32(d, at + kBlockSize), ++index) {
    fields.push_back(Field("data block " + std::to_string(index), at,
                           Get32(d, at + kBlockSize), kBlockFlags,
                           kBlockChecksum, true, d));
  }
  return fields;
}

bool ComputeChecksum(const std::string& d, const ChecksumField& field,
                     uint32_t& sum) {
  if (field.size % 4 != 0) return false;
  uint32_t total = 0;
  for (size_t at = field.start; at < field.start + field.size; at += 4)
    total += Get32(d, at);
  total -= Get32(d, field.field);
  // The flags word as it was while Windows summed: kFlagCounted set.
  const uint16_t flags = Get16(d, field.flags);
  const uint32_t counted = static_cast<uint16_t>(flags | kFlagCounted);
  total += (counted - flags) << (8 * ((field.flags - field.start) % 4));
  sum = 0u - total;
  return true;
}

std::string ChecksumRefusal(const std::string& d) {
  if (!CarriesChecksums(d)) {
    // Files that carry none keep these two zero; a value there is
    // something no known rule accounts for.
    for (size_t at : {kHeaderChecksum, kRgknOffset + kRgknChecksum}) {
      if (Get32(d, at) != 0)
        return "the header marks the file as carrying no checksums, yet "
               "the checksum field at offset " +
               Hex(at) + " holds " + Hex(Get32(d, at)) +
               ", which no known rule accounts for";
    }
    return {};
  }
  for (const ChecksumField& field : ChecksumFields(d)) {
    if (field.stale) continue;
    uint32_t sum;
    if (!ComputeChecksum(d, field, sum)) return NotComputable(field);
    const uint32_t stored = Get32(d, field.field);
    if (stored != sum)
      return "the checksum of " + field.what + " (at offset " +
             Hex(field.field) + ") is " + Hex(stored) +
             " but its contents give " + Hex(sum) +
             " (the file was damaged, or changed without its checksum)";
  }
  return {};
}

bool UpdateChecksums(const std::string& before, std::string& after,
                     std::string& error) {
  if (!CarriesChecksums(after)) return true;
  for (const ChecksumField& field : ChecksumFields(after)) {
    if (field.stale) continue;
    const bool same = field.start + field.size <= before.size() &&
                      before.compare(field.start, field.size, after,
                                     field.start, field.size) == 0;
    if (same) continue;
    uint32_t sum;
    if (!ComputeChecksum(after, field, sum)) {
      error = NotComputable(field);
      return false;
    }
    Put32(after, field.field, sum);
  }
  return true;
}

}  // namespace creg
}  // namespace hostreg
