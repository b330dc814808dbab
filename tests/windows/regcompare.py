#!/usr/bin/env python3
"""Compares a scenario's registry with what Wine's regedit exported.

  regcompare.py plan PRISTINE OUT_DELETE SCENARIO_REG...
      Writes OUT_DELETE, a .reg file that deletes every key tree the
      scenarios add to Wine's own registry, and prints nothing.
  regcompare.py roots SCENARIO_REG
      Prints the keys to export for one scenario, one a line.
  regcompare.py compare PRISTINE EXPECTED_REG EXPORT_REG...
      Exit 0 when every key of EXPECTED_REG is in the exports with the same
      values; else prints each difference and exits 1.

PRISTINE is Wine's system.reg from before any import: keys that Wine has of
its own may hold further values of Wine's, every other key must match
exactly. Names of keys and values compare case-insensitively, as Windows
does. Values compare by type and data; strings by their text, as Wine
stores them in UTF-16 and ends each REG_SZ with a zero.
"""

import re
import sys

HKLM = "HKEY_LOCAL_MACHINE"
STRING_TYPES = (1, 2, 7)  # REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ


class RegError(Exception):
    pass


def decode_file(data):
    """Text of a .reg file and whether it is the UTF-16 Version 5.00 kind."""
    if data.startswith(b"\xff\xfe"):
        text = data[2:].decode("utf-16-le")
    else:
        text = data.decode("cp1252", errors="surrogateescape")
    first = text.split("\n", 1)[0].strip()
    if first == "REGEDIT4":
        return text, False
    if first == "Windows Registry Editor Version 5.00":
        return text, True
    raise RegError("not a .reg file: first line %r" % first)


def unquote(text, at):
    """The string starting at the quote text[at], and the index behind it."""
    assert text[at] == '"'
    out = []
    i = at + 1
    while i < len(text):
        c = text[i]
        if c == "\\" and i + 1 < len(text):
            nxt = text[i + 1]
            out.append({"n": "\n", "r": "\r", "0": "\0"}.get(nxt, nxt))
            i += 2
        elif c == '"':
            return "".join(out), i + 1
        else:
            out.append(c)
            i += 1
    raise RegError("unterminated string: %r" % text)


def canonical(kind, data, unicode_file):
    """(type, comparable data) for a value read from a file."""
    if kind in STRING_TYPES:
        if isinstance(data, bytes):
            data = (data.decode("utf-16-le", errors="surrogatepass")
                    if unicode_file else
                    data.decode("cp1252", errors="surrogateescape"))
        if kind != 7 and not data.endswith("\0"):
            data += "\0"  # Wine ends every imported string with a zero
        return kind, data
    return kind, bytes(data)


def parse_data(data_text, unicode_file):
    if data_text.startswith('"'):
        text, end = unquote(data_text, 0)
        if data_text[end:].strip():
            raise RegError("text behind a string: %r" % data_text)
        return canonical(1, text, unicode_file)
    low = data_text.lower()
    if low.startswith("dword:"):
        return 4, int(data_text[6:].strip(), 16).to_bytes(4, "little")
    m = re.match(r"hex(?:\(([0-9a-fA-F]+)\))?:(.*)$", data_text, re.S)
    if not m:
        raise RegError("unknown data: %r" % data_text)
    kind = int(m.group(1), 16) if m.group(1) is not None else 3
    digits = [d.strip() for d in m.group(2).split(",") if d.strip()]
    return canonical(kind, bytes(int(d, 16) for d in digits), unicode_file)


def logical_lines(text):
    """Lines with regedit's trailing-backslash continuations joined."""
    pending = ""
    for raw in text.splitlines():
        line = raw.rstrip("\r")
        if pending:
            line = pending + line.lstrip()
            pending = ""
        if line.endswith("\\") and not line.lstrip().startswith("["):
            pending = line[:-1]
            continue
        yield line
    if pending:
        yield pending


def parse_reg(path):
    """{lower-case key: (key as written, {lower-case value name: (type,
    data)})} of a .reg file; the default value is named ''."""
    with open(path, "rb") as f:
        text, unicode_file = decode_file(f.read())
    keys = {}
    current = None
    for line in list(logical_lines(text))[1:]:
        stripped = line.strip()
        if not stripped or stripped.startswith(";"):
            continue
        if stripped.startswith("["):
            name = stripped[1:stripped.rindex("]")]
            current = keys.setdefault(name.lower(), (name, {}))[1]
            continue
        if current is None:
            raise RegError("%s: value outside a key: %r" % (path, line))
        if stripped.startswith("@="):
            name, data_text = "", stripped[2:]
        elif stripped.startswith('"'):
            name, end = unquote(stripped, 0)
            if not stripped[end:].startswith("="):
                raise RegError("%s: no '=' behind the name: %r" % (path, line))
            data_text = stripped[end + 1:]
        else:
            raise RegError("%s: cannot read %r" % (path, line))
        current[name.lower()] = parse_data(data_text, unicode_file)
    return keys


def wine_keys(path):
    """Lower-case HKEY_LOCAL_MACHINE key names in Wine's own system.reg."""
    names = set()
    with open(path, "rb") as f:
        for raw in f:
            if raw.startswith(b"["):
                name = raw[1:raw.rindex(b"]")].decode("ascii", "replace")
                name = name.replace("\\\\", "\\")
                key = (HKLM + "\\" + name).lower()
                # Wine lists only keys with values or subkeys of their own
                # there; the keys above them exist as well.
                while key is not None and key not in names:
                    names.add(key)
                    key = parent(key)
    return names


def parent(key):
    return key.rsplit("\\", 1)[0] if "\\" in key else None


def added_roots(keys, pristine):
    """The topmost keys that the scenario adds to Wine's registry, whether
    the scenario lists them or only keys below them."""
    roots = set()
    for k, (name, _) in keys.items():
        if k in pristine:
            continue
        while parent(name) is not None and parent(name).lower() not in pristine:
            name = parent(name)
        roots.add(name)
    return sorted(roots)


def export_roots(scenario):
    """Fewest keys whose trees hold every key with values, and every leaf."""
    names = set(scenario)
    wanted = [k for k, (_, values) in scenario.items()
              if values or not any(n.startswith(k + "\\") for n in names)]
    roots = []
    for k in sorted(wanted):
        if not any(k.startswith(r + "\\") for r in roots):
            roots.append(k)
    return [scenario[k][0] for k in roots]


def describe(value):
    kind, data = value
    if kind in STRING_TYPES:
        return "type %d %r" % (kind, data)
    return "type %d %s" % (kind, data.hex(","))


def compare(expected, actual, pristine):
    problems = []
    for key, (name, values) in sorted(expected.items()):
        if key not in actual:
            problems.append("missing key [%s]" % name)
            continue
        got = actual[key][1]
        if got is None:
            if values:
                problems.append("[%s] was not exported" % name)
            continue  # a key without values, seen as a parent of one
        for vname, value in sorted(values.items()):
            if vname not in got:
                problems.append("[%s] missing value %r" % (name, vname))
            elif got[vname] != value:
                problems.append("[%s] %r is %s, expected %s" % (
                    name, vname, describe(got[vname]), describe(value)))
        if key not in pristine:
            for vname in sorted(set(got) - set(values)):
                problems.append("[%s] unexpected value %r = %s" % (
                    name, vname, describe(got[vname])))
    return problems


def with_parents(actual):
    """Each export is one tree; the keys above its root exist too."""
    for key in list(actual):
        up = parent(key)
        while up is not None and up not in actual:
            actual[up] = (up, None)
            up = parent(up)
    return actual


def compare_files(pristine_path, expected_path, export_paths):
    """The differences between a scenario's registry and Wine's exports."""
    pristine = wine_keys(pristine_path)
    expected = parse_reg(expected_path)
    actual = {}
    for path in export_paths:
        actual.update(parse_reg(path))
    return compare(expected, with_parents(actual), pristine)


def plan(pristine_path, out_path, scenario_paths):
    """Writes a .reg file that deletes every key tree the scenarios add."""
    pristine = wine_keys(pristine_path)
    roots = set()
    for path in scenario_paths:
        roots.update(added_roots(parse_reg(path), pristine))
    # A deleted parent takes its subkeys with it; list each tree once.
    low = {r.lower() for r in roots}
    top = [r for r in sorted(roots)
           if not any(r.lower().startswith(o + "\\") for o in low)]
    with open(out_path, "w", newline="\r\n") as f:
        f.write("REGEDIT4\n\n")
        for r in top:
            f.write("[-%s]\n\n" % r)


def main(argv):
    if len(argv) >= 4 and argv[1] == "plan":
        plan(argv[2], argv[3], argv[4:])
        return 0
    if len(argv) == 3 and argv[1] == "roots":
        for name in export_roots(parse_reg(argv[2])):
            print(name)
        return 0
    if len(argv) >= 5 and argv[1] == "compare":
        problems = compare_files(argv[2], argv[3], argv[4:])
        for p in problems:
            print("  " + p)
        return 1 if problems else 0
    print(__doc__, file=sys.stderr)
    return 2


if __name__ == "__main__":
    try:
        sys.exit(main(sys.argv))
    except (RegError, OSError, ValueError) as e:
        print("regcompare: %s" % e, file=sys.stderr)
        sys.exit(2)
