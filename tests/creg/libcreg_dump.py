#!/usr/bin/python3
"""Prints a Windows 9x registry file as libcreg (pycreg) reads it, in the
line format of tests/creg_tool's dump, for an independent comparison.

  libcreg_dump.py FILE

Exits 1 when libcreg reports a key or value as corrupted."""
import sys


class Corrupted(Exception):
    pass


def _dump(key, path, out):
    # The root has no record of its own, which libcreg cannot judge.
    if path and key.is_corrupted():
        raise Corrupted("libcreg: corrupted key " + path)
    out.append("K " + path)
    for i in range(key.number_of_values):
        value = key.get_value(i)
        if value.is_corrupted():
            raise Corrupted("libcreg: corrupted value in " + path)
        name = value.get_name() or ""
        data = value.get_data() or b""
        out.append("V %s|%s|%d|%s" % (path, name, value.get_type(), data.hex()))
    for i in range(key.number_of_sub_keys):
        sub = key.get_sub_key(i)
        _dump(sub, (path + "\\" if path else "") + sub.get_name(), out)


def dump(path):
    """The file's keys and values as creg_tool dump prints them, as bytes."""
    import pycreg
    handle = pycreg.file()
    # The files hold Windows-1252 names; read them as such, not as UTF-8.
    handle.set_ascii_codepage("windows-1252")
    handle.open(path)
    try:
        out = []
        _dump(handle.get_root_key(), "", out)
    finally:
        handle.close()
    return ("\n".join(out) + "\n").encode("cp1252")


def main():
    try:
        sys.stdout.buffer.write(dump(sys.argv[1]))
    except Corrupted as e:
        raise SystemExit(str(e))


if __name__ == "__main__":
    main()
