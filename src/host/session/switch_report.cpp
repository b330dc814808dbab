#include "host/session/switch_report.h"

#include <cstring>

#include "host/formats/changes.h"
#include "host/formats/reg/render.h"

namespace hostreg {

namespace {

// What a row looks for, when it found none of it.
struct RowNote {
  const char* letters;
  const char* note;
};
const RowNote kNothingFound[] = {
    {"DDC", "no display adapter entry has a DEFAULT subkey"},
    {"CDP", "no AutoInsertNotification value below Enum\\SCSI (it changes "
            "only values that are there)"},
    {"DMA", "no IDE controller runs ESDI_506.PDR from MSHDC.INF "
            "(GOOD_IDE or DUAL_GOOD_IDE)"},
    {"ACS", "no ACDriveSpinDown to reset (it resets one that is there)"},
};

// As the file's own readers take it: a Windows 9x string shows as text.
std::string Shown(const std::optional<Value>& value, StringRules rules) {
  if (!value) return "nothing";
  Value shown = *value;
  shown.name = "x";
  std::string line = FormatValueLine(shown, "\n", false, rules);
  return AnsiName(line.substr(4));  // behind "x"=
}

}  // namespace

SwitchReport::SwitchReport(Registry* registry, const std::string& tail,
                           bool verbose)
    : registry_(registry), verbose_(verbose) {
  std::string upper = tail;
  UpperCaseTail(&upper[0]);
  if (FindHelpSwitch(upper.c_str()) != nullptr) return;
  for (const Tweak& row : kTweakTable) {
    if (FindSwitch(upper.c_str(), row) == nullptr) continue;
    const Key* key =
        registry == nullptr
            ? nullptr
            : registry->keys().FindPath(registry->keys().Root(), row.keyPath);
    rows_.push_back({&row, key, 0, {}});
  }
}

// The row whose key the written key is, or is below (the rows' keys are
// apart from one another).
void SwitchReport::Written(const Key& key, const char* name) {
  const KeyTree& keys = registry_->keys();
  for (const Key* k = &key; k != nullptr; k = keys.Parent(*k)) {
    for (Row& row : rows_) {
      if (row.key != k) continue;
      ++row.writes;
      if (!verbose_) return;
      std::optional<Value> was;
      if (const Value* value = registry_->values().Find(key, name))
        was = *value;
      row.kept.push_back({&key, name, std::move(was)});
      return;
    }
  }
}

std::string SwitchReport::NothingFound(const Row& row) const {
  const std::string head =
      std::string("/") + row.tweak->letters + " found nothing to change: ";
  if (row.key == nullptr)
    return head + "there is no " + row.tweak->keyPath;
  if (std::strcmp(row.tweak->letters, "DIN") == 0)
    return head + (registry_->keys().FindSubkey(*row.key, "DeskMgmt") != nullptr
                       ? "DeskMgmt has its Installed marker (it is written "
                         "only when missing)"
                       : "DeskMgmt is missing");
  for (const RowNote& note : kNothingFound)
    if (std::strcmp(note.letters, row.tweak->letters) == 0)
      return head + note.note;
  return head + "nothing was written";
}

std::string SwitchReport::Described(const Row& row, const Write& write) const {
  const std::optional<Value> now = [&]() -> std::optional<Value> {
    if (const Value* value = registry_->values().Find(*write.key, write.name))
      return *value;
    return std::nullopt;
  }();
  const bool same = now && write.was && now->type == write.was->type &&
                    now->data == write.was->data;
  const StringRules rules = registry_->stringRules();
  return std::string("/") + row.tweak->letters + ": " +
         AnsiName(KeyLineOf(registry_->keys(), *write.key)) + " \"" +
         AnsiName(write.name) + "\"=" + Shown(now, rules) +
         (same ? " (as it was)" : " (was " + Shown(write.was, rules) + ")");
}

void SwitchReport::Tell(Messages& messages) const {
  for (const Row& row : rows_) {
    if (row.writes == 0) messages.Say(NothingFound(row));
    for (const Write& write : row.kept) messages.Say(Described(row, write));
  }
}

}  // namespace hostreg
