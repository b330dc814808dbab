// A registry written whole as a REGEDIT4 file, in the form Windows 98's
// registry editor exports one (regedit /e): so that a Windows 9x registry
// file can be read, compared, kept and edited as text, and merged back.
#ifndef REGSWITCH_HOST_FORMATS_EXPORT_H
#define REGSWITCH_HOST_FORMATS_EXPORT_H

#include <string>

#include "host/registry/registry.h"

namespace hostreg {

// The export's first lines: "REGEDIT4" and a blank line.
std::string ExportHeader();

// Appends every key of the registry to `out`, from its root down, depth
// first, subkeys in the order the registry holds them (the order the
// editor enumerates them in): each key's line, its values in their order,
// then a blank line. Lines end in CR LF; names and data are code page
// 1252 bytes. Values are written as render.h writes them, strings by the
// registry's rules, so that a Windows 9x file's strings read as Windows
// reads them. Each key's values are let go once written.
void AppendExport(Registry& registry, std::string& out);

}  // namespace hostreg

#endif
