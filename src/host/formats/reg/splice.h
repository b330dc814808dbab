// Saving a .reg file: its bytes with a run's changes spliced in.
#ifndef REGSWITCH_HOST_FORMATS_REG_SPLICE_H
#define REGSWITCH_HOST_FORMATS_REG_SPLICE_H

#include <string>

#include "host/formats/reg/reg_text.h"
#include "host/formats/registry_file.h"

namespace hostreg {

// Every line the run did not change stays byte for byte as it was; a
// changed value is rewritten in place, in the file's style; new values go
// after the last line of their key's last section. `eol` ends new lines.
void SpliceChanges(const RegText& text, const Registry& registry,
                   const std::string& eol, Rendering& out);

}  // namespace hostreg

#endif
