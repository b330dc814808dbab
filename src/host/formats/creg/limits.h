// What Windows 95, 98 and Me keep of a value and a key, so that a save
// never writes what Windows would lose. Microsoft's "Registry Element Size
// Limits" gives, for Windows Me/98/95, value names of 255 characters and
// value data of 16,300 bytes, and for Windows 95 a 64 KB limit for all the
// values of one key; Knowledge Base article Q122867 ("Registry Keys Are
// Limited to 60 KB Each") adds that Windows 95 loses the values beyond it
// when it loads a larger key. The largest of the real files keep well
// inside them: value names of 112 characters, data of 15,001 bytes, and
// 12,597 bytes of values in Windows 95's largest key (18,105 in the Me
// USER.DAT's).
#ifndef REGSWITCH_HOST_FORMATS_CREG_LIMITS_H
#define REGSWITCH_HOST_FORMATS_CREG_LIMITS_H

#include <cstddef>
#include <string>

#include "host/formats/changes.h"
#include "host/formats/creg/hive.h"

namespace hostreg {
namespace creg {

constexpr size_t kMaxValueNameLength = 255;
constexpr size_t kMaxValueData = 16300;
// Windows 95's, for a key's values: their headers, names and data.
constexpr size_t kMaxKeyValues95 = 0x10000;

// Why Windows would lose part of what the changes write: a value the run
// set whose name or data is over the limit, or, in a Windows 95 file, a key
// whose values grew past its limit. Empty when Windows keeps all of it.
std::string LimitRefusal(const Hive& hive, const Registry& registry,
                         const ChangeSet& changes);

}  // namespace creg
}  // namespace hostreg

#endif
