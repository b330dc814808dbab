// Registry export files (.reg) as the host registry's storage.
#ifndef REGSWITCH_REG_FILE_H
#define REGSWITCH_REG_FILE_H

#include <memory>
#include <string>

#include "storage.h"

namespace hostreg {

// Parses the text of a REGEDIT4 export into `registry`. `name` is used in
// messages only. On failure returns null and `error` reads "NAME:LINE: why".
std::unique_ptr<Storage> ParseRegFile(const std::string& path,
                                      const std::string& name,
                                      std::string contents, Registry& registry,
                                      std::string& error);

}  // namespace hostreg

#endif
