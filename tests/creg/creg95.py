"""Windows 9x registry files that carry checksums (Windows 95's), for the
tests: the checksum fields read independently of the program, and small
files cut from a real one as fuzzing seeds.

A field holds 0 minus the 32-bit sum of its structure's little-endian
words, with the field itself taken as 0 and the structure's flags word with
0x4 set. A structure whose flags have 0x1 holds a stale value; a file whose
header flags have 0x20 carries no checksums at all."""

import struct

HEADER_NO_CHECKSUMS = 0x20
STALE = 0x1
COUNTED = 0x4
NONE = 0xFFFFFFFF


def u16(data, at):
    return struct.unpack_from("<H", data, at)[0]


def u32(data, at):
    return struct.unpack_from("<I", data, at)[0]


class Field:
    def __init__(self, data, what, start, size, flags_at, field_at, can_be_stale):
        self.what = what
        self.start, self.size = start, size
        self.flags_at, self.field_at = start + flags_at, start + field_at
        self.stale = can_be_stale and bool(u16(data, self.flags_at) & STALE)
        self.stored = u32(data, self.field_at)


def carries_checksums(data):
    return not u16(data, 18) & HEADER_NO_CHECKSUMS


def blocks(data):
    """The (offset, size) of every data block, in file order."""
    out, at = [], u32(data, 8)
    while at < len(data):
        out.append((at, u32(data, at + 4)))
        at += u32(data, at + 4)
    return out


def fields(data):
    out = [Field(data, "the header", 0, 32, 18, 12, False),
           Field(data, "the key tree", 0x20, u32(data, 0x24), 16, 20, True)]
    for index, (at, size) in enumerate(blocks(data)):
        out.append(Field(data, "data block %d" % index, at, size, 12, 28, True))
    return out


def by_rule(data, field):
    copy = bytearray(data[field.start:field.start + field.size])
    struct.pack_into("<I", copy, field.field_at - field.start, 0)
    flags = field.flags_at - field.start
    struct.pack_into("<H", copy, flags, u16(copy, flags) | COUNTED)
    words = struct.unpack_from("<%dI" % (len(copy) // 4), copy)
    return -sum(words) & 0xFFFFFFFF


def problems(before, after):
    """What is wrong with the checksum fields of AFTER, a save of BEFORE:
    a field in force that does not hold its rule's value, or a stale one
    that changed."""
    if not carries_checksums(after):
        return []
    out = []
    was = fields(before)
    for i, field in enumerate(fields(after)):
        if field.stale and i < len(was):
            if field.stored != was[i].stored:
                out.append("%s is stale but changed from %#x to %#x"
                           % (field.what, was[i].stored, field.stored))
        elif field.stored != by_rule(after, field):
            out.append("%s holds %#x, its rule gives %#x"
                       % (field.what, field.stored, by_rule(after, field)))
    return out


def set_checksums(data):
    """Every field in force set to its rule's value."""
    data = bytearray(data)
    for field in fields(data):
        if not field.stale:
            struct.pack_into("<I", data, field.field_at, by_rule(data, field))
    return bytes(data)


# --- Small files cut from a real one ------------------------------------------

def _records(data):
    """(block index, record id) -> record offset."""
    out = {}
    for index, (at, size) in enumerate(blocks(data)):
        r = at + 32
        while r < at + size:
            if u16(data, r + 4) != 0xFFFF:
                out[(index, u16(data, r + 4))] = r
            r += u32(data, r)
    return out


def _keys_in_order(data, budget):
    """The root and then keys depth first in file order, as (node, parent
    index), while their records' used bytes fit in BUDGET."""
    records = _records(data)
    root = 0x20 + u32(data, 0x28)
    out, used = [(root, None)], 0
    stack = [(root, 0)]
    while stack:
        node, index = stack.pop()
        children = []
        child = u32(data, node + 16)
        while child != NONE:
            children.append(0x20 + child)
            child = u32(data, 0x20 + child + 20)
        for child in children:
            size = u32(data, records[(u16(data, child + 26), u16(data, child + 24))] + 8)
            if used + size > budget:
                return out
            used += size
            out.append((child, index))
        for child in reversed(children):
            stack.append((child, out.index((child, index))))
    return out


def cut_down(data, budget, per_block, tree_flags, block_flags):
    """A file of the keys of DATA whose records fit in BUDGET bytes, PER_BLOCK
    records to a block, the key tree's flags TREE_FLAGS and each block's
    taken in turn from BLOCK_FLAGS. Fields in force hold their rule's
    value, stale ones a value no rule gives."""
    records = _records(data)
    keys = _keys_in_order(data, budget)[:290]  # the key tree's first 8 KB
    rel = [0x20 + 28 * i for i in range(len(keys))]
    tree = bytearray(0x2000)
    tree[0:32] = data[0x20:0x40]
    struct.pack_into("<III", tree, 4, len(tree), rel[0], NONE)
    struct.pack_into("<H", tree, 16, tree_flags)
    contents = {}  # block number -> its records
    for i, (node, parent) in enumerate(keys):
        children = [j for j, k in enumerate(keys) if k[1] == i]
        later = [j for j, k in enumerate(keys) if parent is not None and k[1] == parent and j > i]
        source = records.get((u16(data, node + 26), u16(data, node + 24)))
        block, rid = divmod(i, per_block)
        if source is None:  # a root without a record of its own
            block, rid = 0xFFFF, 0xFFFF
        else:
            record = bytearray(data[source:source + u32(data, source + 8)])
            struct.pack_into("<IHH", record, 0, len(record), rid, block)
            contents.setdefault(block, []).append(bytes(record))
        struct.pack_into("<IIIIIIHH", tree, rel[i], 0, u32(data, node + 4), NONE,
                         rel[parent] if parent is not None else NONE,
                         rel[children[0]] if children else NONE,
                         rel[later[0]] if later else NONE, rid, block)
    block_bytes = []
    for number in sorted(contents):
        recs = b"".join(contents[number])
        free = 64 - (32 + len(recs)) % 4
        header = bytearray(data[blocks(data)[0][0]:][:32])
        struct.pack_into("<IIHHIHH", header, 4, 32 + len(recs) + free, free,
                         block_flags[number % len(block_flags)], number, 32 + len(recs),
                         len(contents[number]) - 1, len(contents[number]))
        free_record = bytearray(free)
        struct.pack_into("<IHHI", free_record, 0, free, 0xFFFF, 0xFFFF, NONE)
        block_bytes.append(bytes(header) + recs + bytes(free_record))
    head = bytearray(data[0:32])
    struct.pack_into("<IIH", head, 8, 0x20 + len(tree), 0, len(block_bytes))
    out = bytearray(set_checksums(bytes(head) + bytes(tree) + b"".join(block_bytes)))
    for field in fields(out):
        if field.stale:
            struct.pack_into("<I", out, field.field_at, by_rule(out, field) ^ 0x5A5A5A5A)
    return bytes(out)


# --- An empty file ------------------------------------------------------------

def empty_file():
    """A registry file with no key but its root, laid out as Windows Me's
    own files are (no checksums, header flag 0x20, block and key tree flags
    0x8, a root without a record): the key tree's first 8 KB, its root node
    and one free stretch behind it, and one 4 KB data block that is one free
    record. A stand-in for a CLASSES.DAT, and the empty registry an export
    is merged into."""
    tree = bytearray(0x2000)
    struct.pack_into("<4sIIIHHI", tree, 0, b"RGKN", len(tree), 0x20, 0x3C, 0x8, 0, 0)
    struct.pack_into("<IIIIIIHH", tree, 0x20, 0, 0, NONE, NONE, NONE, NONE, 0xFFFF, 0xFFFF)
    struct.pack_into("<III", tree, 0x3C, 0x80000000, len(tree) - 0x3C, NONE)
    block = bytearray(0x1000)
    struct.pack_into("<4sIIHHIHHII", block, 0, b"RGDB", len(block), len(block) - 32,
                     0x8, 0, 32, 0, 0, 0, 0)
    struct.pack_into("<IHHI", block, 32, len(block) - 32, 0xFFFF, 0xFFFF, NONE)
    head = bytearray(32)
    struct.pack_into("<4sIIIHH", head, 0, b"CREG", 0x10000, 0x20 + len(tree), 0, 1,
                     HEADER_NO_CHECKSUMS)
    return bytes(head) + bytes(tree) + bytes(block)
