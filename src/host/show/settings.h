// What --show tells about a registry: the state of each of the six
// settings, found by the tweaks themselves rather than by a second copy of
// their rules. Each row of the tweak table runs through the front end once
// on and once off over the loaded registry, each run is taken back, and the
// values the runs read by name or wrote tell the state: a value that the on
// run leaves as it is and the off run changes is on, and so on.
#ifndef REGSWITCH_HOST_SHOW_SETTINGS_H
#define REGSWITCH_HOST_SHOW_SETTINGS_H

#include <optional>
#include <string>
#include <vector>

#include "core/front/front.h"
#include "host/program/program.h"
#include "host/registry/machine.h"
#include "host/registry/registry.h"

namespace hostreg {

// What the two runs of a row tell about one value, or about the row.
enum class State {
  kOn,       // the on run leaves it as it is, the off run changes it
  kOff,      // the off run leaves it, the on run changes it
  kUnset,    // missing, and both runs write it
  kOther,    // present, and both runs change it, each its own way
  kApplied,  // written the same by both runs, and already so
  kPending,  // written the same by both runs, and not yet so
  kRead,     // read by name only: neither run writes it
  // Only for a row:
  kMixed,            // its values are in different states
  kNothingToSwitch,  // neither run writes a value
  kKeyMissing,       // the row's key is not in the registry
};

// The word --show prints for a state.
const char* StateName(State state);

// A value's type and data: a wide tree has tens of thousands of them.
struct Contents {
  DWORD type = REG_NONE;
  std::string data;
};

struct SeenValue {
  const Key* key;
  std::string name;  // as the registry spells it, else as the tweak did
  std::optional<Contents> value;  // as the registry holds it; none if missing
  State state;
};

struct Setting {
  const Tweak* row;
  State state;
  const Key* key;  // the row's key; null when it is missing
  // The values either run wrote; when there are none, those they read.
  std::vector<SeenValue> values;
};

// Every row of the tweak table, in its order. The registry is left as it
// was, changes made before included.
std::vector<Setting> FindSettings(Registry& registry);

// The settings as --show prints them: a line per setting with its state
// and key, then a line per value with its state, its key below the row's,
// its name and its data.
std::string SettingsText(const Registry& registry,
                         const std::vector<Setting>& settings);
// One setting's lines of that text, appended to `text`.
void AppendSetting(const Registry& registry, const Setting& setting,
                   std::string& text);

// FindSettings' rows as SettingsText prints them, each row found and
// printed before the next is looked at, so that a wide tree's values are
// held for one row at a time.
std::string ShowSettings(Registry& registry);

}  // namespace hostreg

#endif
