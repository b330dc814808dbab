// Saving a .reg file: its bytes with a run's changes spliced in.
#ifndef REGSWITCH_HOST_FORMATS_REG_SPLICE_H
#define REGSWITCH_HOST_FORMATS_REG_SPLICE_H

#include <string>

#include "host/formats/reg/index.h"
#include "host/formats/reg/reg_text.h"
#include "host/formats/registry_file.h"

namespace hostreg {

// Every line the run did not change stays byte for byte as it was; a
// changed value is rewritten in place of the statement it was last set by,
// in the file's style; new values go behind the last statement of their
// key's last section, after any line that deleted the key or the value.
// `eol` ends new lines.
void SpliceChanges(const RegText& text, const RegIndex& index,
                   const Registry& registry, const ChangeSet& changes,
                   const std::string& eol, Rendering& out);

}  // namespace hostreg

#endif
