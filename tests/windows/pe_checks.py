#!/usr/bin/env python3
"""Checks of regswitch.exe's image against what Windows 95 loads and runs,
one check a call:

  pe_checks.py CHECK      (pe_checks.py --list names them)

The image is read with pefile, the code disassembled with capstone."""

import os
import re
import sys

from wine import BUILD, harness

# Every call the program makes, all of them in Windows 95.
ALLOWED_IMPORTS = {
    "KERNEL32.DLL": {"GetCommandLineA", "ExitProcess", "lstrcmpiA", "lstrcatA"},
    "USER32.DLL": {"MessageBoxA"},
    "ADVAPI32.DLL": {"RegOpenKeyA", "RegEnumKeyA", "RegEnumValueA",
                     "RegQueryValueExA", "RegSetValueExA", "RegCloseKey"},
}
IMAGE_SUBSYSTEM_WINDOWS_GUI = 2
TLS_DIRECTORY = 9
IMAGE_SCN_CNT_CODE = 0x20
IMAGE_SCN_MEM_EXECUTE = 0x20000000
# Sections a C runtime brings for what runs before the entry point.
CRT_SECTIONS = (".tls", ".CRT", ".ctors", ".init_array")
# Instructions of the 486 and later, and the MMX and SSE registers.
NEWER_MNEMONIC = re.compile(
    r"^(cmov\w*|bswap|cpuid|rdtsc\w*|cmpxchg\w*|xadd\w*|invd|wbinvd|invlpg)$")
SIMD_REGISTER = re.compile(r"\b[xyz]?mm\d+\b")
MAX_SIZE = 4096


def version(major, minor):
    return "%d.%d" % (major, minor)


def section_name(section):
    return section.Name.rstrip(b"\0").decode("ascii", "replace")


def check_imports(pe, path):
    if not hasattr(pe, "DIRECTORY_ENTRY_IMPORT"):
        return False, "no imports at all"
    found, wrong = [], []
    for entry in pe.DIRECTORY_ENTRY_IMPORT:
        dll = entry.dll.decode("ascii", "replace").upper()
        for imp in entry.imports:
            if imp.name is None:
                wrong.append("%s by ordinal %d" % (dll, imp.ordinal))
                continue
            name = imp.name.decode("ascii", "replace")
            found.append(name)
            if name not in ALLOWED_IMPORTS.get(dll, ()):
                wrong.append("%s %s" % (dll, name))
    if wrong:
        return False, "imports outside the allowed calls: " + ", ".join(wrong)
    if "ExitProcess" not in found:
        return False, "ExitProcess is not imported (imports: %s)" % ", ".join(found)
    return True, "imports only Windows 95 calls: " + " ".join(found)


def check_subsystem(pe, path):
    subsystem = pe.OPTIONAL_HEADER.Subsystem
    return subsystem == IMAGE_SUBSYSTEM_WINDOWS_GUI, \
        "subsystem %d (Windows GUI is %d)" % (subsystem, IMAGE_SUBSYSTEM_WINDOWS_GUI)


def check_subsystem_version(pe, path):
    h = pe.OPTIONAL_HEADER
    v = version(h.MajorSubsystemVersion, h.MinorSubsystemVersion)
    return v == "4.0", "subsystem version %s (must be 4.0)" % v


def check_os_version(pe, path):
    h = pe.OPTIONAL_HEADER
    v = version(h.MajorOperatingSystemVersion, h.MinorOperatingSystemVersion)
    return v == "4.0", "OS version %s (must be 4.0)" % v


def check_section_alignment(pe, path):
    a = pe.OPTIONAL_HEADER.SectionAlignment
    return a == 4096, "section alignment %d (must be 4096)" % a


def check_file_alignment(pe, path):
    a = pe.OPTIONAL_HEADER.FileAlignment
    return a == 512, "file alignment %d (must be 512)" % a


def check_no_tls(pe, path):
    d = pe.OPTIONAL_HEADER.DATA_DIRECTORY[TLS_DIRECTORY]
    return d.VirtualAddress == 0 and d.Size == 0, \
        "TLS directory at 0x%x, %d bytes (must be none)" % (d.VirtualAddress, d.Size)


def check_no_crt_sections(pe, path):
    names = [section_name(s) for s in pe.sections]
    crt = [n for n in names if n.startswith(CRT_SECTIONS)]
    return bool(names) and not crt, "sections %s%s" % (
        " ".join(names) or "none", "; from a C runtime: " + " ".join(crt) if crt else "")


def check_instructions(pe, path):
    capstone = harness.need_module("capstone", "python3-capstone")
    disassembler = capstone.Cs(capstone.CS_ARCH_X86, capstone.CS_MODE_32)
    disassembler.skipdata = True  # data in the code (constructor list ends)
    count, newer = 0, []
    for section in pe.sections:
        if not section.Characteristics & (IMAGE_SCN_CNT_CODE | IMAGE_SCN_MEM_EXECUTE):
            continue
        code = section.get_data()[:min(section.Misc_VirtualSize, section.SizeOfRawData)]
        start = pe.OPTIONAL_HEADER.ImageBase + section.VirtualAddress
        for insn in disassembler.disasm(code, start):
            if insn.mnemonic == ".byte":
                continue
            count += 1
            if NEWER_MNEMONIC.match(insn.mnemonic) or SIMD_REGISTER.search(insn.op_str):
                newer.append("%x: %s %s" % (insn.address, insn.mnemonic, insn.op_str))
    if newer:
        return False, "%d instructions newer than the 386, the first ones:\n  %s" % (
            len(newer), "\n  ".join(newer[:20]))
    if count <= 100:
        return False, "only %d instructions found: not the program's code" % count
    return True, "no instruction newer than the 386 (%d instructions)" % count


def check_size(pe, path):
    size = os.path.getsize(path)
    return size <= MAX_SIZE, "size %d bytes (at most %d)" % (size, MAX_SIZE)


CHECKS = {
    "imports": check_imports,
    "subsystem": check_subsystem,
    "subsystem-version": check_subsystem_version,
    "os-version": check_os_version,
    "section-alignment": check_section_alignment,
    "file-alignment": check_file_alignment,
    "no-tls": check_no_tls,
    "no-crt-sections": check_no_crt_sections,
    "instructions": check_instructions,
    "size": check_size,
}


def main(argv):
    if len(argv) == 2 and argv[1] == "--list":
        print("\n".join(CHECKS))
        return 0
    if len(argv) != 2 or argv[1] not in CHECKS:
        print(__doc__, file=sys.stderr)
        return 2
    exe = BUILD.load()["exe"]
    pefile = harness.need_module("pefile", "python3-pefile")
    pe = pefile.PE(exe)
    ok, detail = CHECKS[argv[1]](pe, exe)
    print("%s  %s: %s" % ("PASS" if ok else "FAIL", argv[1], detail))
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv))
