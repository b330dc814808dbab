#include "host/formats/creg/node_table.h"

#include <cstring>

#include "host/formats/creg/layout.h"

namespace hostreg {
namespace creg {

namespace {

// Where the node after the one at `rel` goes within a free stretch: the
// next 28 bytes while they are on the grid, else the start of the next
// page (layout.h).
uint32_t NextSlot(uint32_t rel) {
  const uint32_t next = rel + kNodeSize;
  if (OnNodeGrid(next)) return next;
  return next - next % kNodePage + kNodePage;
}

}  // namespace

uint32_t NodeNameHash(std::string_view name) {
  uint32_t hash = 0;
  for (char c : name) {
    const auto u = static_cast<unsigned char>(c);
    if (u >= 0x80) continue;
    hash += u >= 'a' && u <= 'z' ? u - ('a' - 'A') : u;
  }
  return hash;
}

NodeTable::NodeTable(std::string& d)
    : d_(d), oldSize_(Get32(d, kRgknOffset + kRgknSize)) {}

char* NodeTable::At(uint32_t rel, size_t field) {
  return rel < oldSize_ ? &d_[kRgknOffset + rel + field]
                        : &grown_[rel - oldSize_ + field];
}

const char* NodeTable::At(uint32_t rel, size_t field) const {
  return rel < oldSize_ ? &d_[kRgknOffset + rel + field]
                        : &grown_[rel - oldSize_ + field];
}

uint32_t NodeTable::Get(uint32_t rel, size_t field) const {
  return Get32(At(rel, field));
}

void NodeTable::Set(uint32_t rel, size_t field, uint32_t value) {
  Put32(At(rel, field), value);
}

void NodeTable::Set16(uint32_t rel, size_t field, uint16_t value) {
  Put16(At(rel, field), value);
}

// A new page is one free stretch: 146 nodes and 8 bytes to spare, as the
// stretch at the end of every real file's tree runs up to the page's end.
void NodeTable::Grow() {
  const uint32_t rel = oldSize_ + static_cast<uint32_t>(grown_.size());
  grown_.append(kNodePage, '\0');
  Set(rel, kNodeMark, kFreeNodeMark);
  Set(rel, kFreeNodeSize, kNodePage);
  Set(rel, kFreeNodeNext, Get32(d_, kRgknOffset + kRgknFirstFree));
  Put32(d_, kRgknOffset + kRgknFirstFree, rel);
}

// The first free node; what is left of its stretch stays free behind it.
uint32_t NodeTable::TakeFree() {
  if (Get32(d_, kRgknOffset + kRgknFirstFree) == kNone) Grow();
  const uint32_t rel = Get32(d_, kRgknOffset + kRgknFirstFree);
  const uint32_t size = Get(rel, kFreeNodeSize);
  uint32_t next = Get(rel, kFreeNodeNext);
  const uint32_t rest = NextSlot(rel);
  if (size > kNodeSize && rest + kNodeSize <= rel + size) {
    Set(rest, kNodeMark, kFreeNodeMark);
    Set(rest, kFreeNodeSize, rel + size - rest);
    Set(rest, kFreeNodeNext, next);
    next = rest;
  }
  Put32(d_, kRgknOffset + kRgknFirstFree, next);
  return rel;
}

uint32_t NodeTable::LastChild(uint32_t parentRel) {
  auto found = lastChild_.find(parentRel);
  if (found != lastChild_.end()) return found->second;
  uint32_t last = kNone;
  for (uint32_t rel = Get(parentRel, kNodeChild); rel != kNone;
       rel = Get(rel, kNodeNext))
    last = rel;
  return last;
}

uint32_t NodeTable::Add(uint32_t parentRel, std::string_view name) {
  const uint32_t rel = TakeFree();
  std::memset(At(rel, 0), 0, kNodeSize);
  Set(rel, kNodeHash, NodeNameHash(name));
  Set(rel, kNodeUnknown, kNone);
  Set(rel, kNodeParent, parentRel);
  Set(rel, kNodeChild, kNone);
  Set(rel, kNodeNext, kNone);
  const uint32_t last = LastChild(parentRel);
  if (last == kNone) Set(parentRel, kNodeChild, rel);
  else Set(last, kNodeNext, rel);
  lastChild_[parentRel] = rel;
  return rel;
}

void NodeTable::Unlink(uint32_t rel) {
  const uint32_t parentRel = Get(rel, kNodeParent);
  const uint32_t next = Get(rel, kNodeNext);
  lastChild_.erase(parentRel);
  if (Get(parentRel, kNodeChild) == rel) {
    Set(parentRel, kNodeChild, next);
    return;
  }
  for (uint32_t at = Get(parentRel, kNodeChild); at != kNone;
       at = Get(at, kNodeNext)) {
    if (Get(at, kNodeNext) == rel) {
      Set(at, kNodeNext, next);
      return;
    }
  }
}

// As Windows leaves a freed node: the mark, its size and the link, the
// rest as it was but for the links and the record, which lead nowhere.
void NodeTable::Free(uint32_t rel) {
  Set(rel, kNodeMark, kFreeNodeMark);
  Set(rel, kFreeNodeSize, kNodeSize);
  Set(rel, kFreeNodeNext, Get32(d_, kRgknOffset + kRgknFirstFree));
  Set(rel, kNodeChild, kNone);
  Set(rel, kNodeNext, kNone);
  Set(rel, kNodeId, kNone);  // id and block: 0xFFFF each
  Put32(d_, kRgknOffset + kRgknFirstFree, rel);
}

void NodeTable::Finish() {
  if (grown_.empty()) return;
  const size_t at = kRgknOffset + oldSize_;
  d_.insert(at, grown_);
  Put32(d_, kRgknOffset + kRgknSize,
        static_cast<uint32_t>(oldSize_ + grown_.size()));
  Put32(d_, kHeaderFirstBlock,
        static_cast<uint32_t>(Get32(d_, kHeaderFirstBlock) + grown_.size()));
  grown_.clear();
}

}  // namespace creg
}  // namespace hostreg
