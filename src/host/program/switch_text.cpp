#include "host/program/switch_text.h"

#include "core/front/front.h"

namespace hostreg {

namespace {

struct Occurrence {
  std::string word;  // from the form to the next blank, as given
  bool on;
};

bool Blank(char c) {
  const unsigned char code = static_cast<unsigned char>(c);
  return code >= 1 && code <= ' ';
}

// Every place a row's forms stand in the upper-cased tail, the one WinMain
// takes first.
std::vector<Occurrence> Occurrences(const std::string& tail,
                                    const std::string& upper,
                                    const Tweak& row) {
  std::vector<Occurrence> all;
  LPCSTR taken = FindSwitch(upper.c_str(), row);
  if (taken == nullptr) return all;
  all.push_back({std::string(), ParseSwitchValue(taken)});
  for (LPCSTR form : {row.slashForm, row.dashForm})
    for (LPCSTR at = FindForm(upper.c_str(), form); at != nullptr;
         at = FindForm(at + 1, form)) {
      if (at != taken) all.push_back({std::string(), ParseSwitchValue(at)});
      const size_t from = static_cast<size_t>(at - upper.c_str());
      size_t to = from;
      while (to < tail.size() && !Blank(tail[to])) ++to;
      (at == taken ? all.front() : all.back()).word = tail.substr(from, to - from);
    }
  return all;
}

// Only these say what they mean; anything else behind a form is read by
// its first two characters.
bool Plain(const std::string& word) {
  const std::string value = word.substr(4);
  return value.empty() || value == ":0" || value == "=0" || value == ":1" ||
         value == "=1";
}

}  // namespace

std::vector<std::string> SwitchTextWarnings(const std::string& tail) {
  std::vector<std::string> warnings;
  std::string upper = tail;
  UpperCaseTail(&upper[0]);
  if (FindHelpSwitch(upper.c_str()) != nullptr) return warnings;
  for (const Tweak& row : kTweakTable) {
    const std::vector<Occurrence> all = Occurrences(tail, upper, row);
    if (all.empty()) continue;
    const Occurrence& taken = all.front();
    if (!Plain(taken.word))
      warnings.push_back(taken.word + (taken.on
                                           ? " reads as on: only the 1 right "
                                             "behind : or = counts"
                                           : " reads as off: only :1 or =1 "
                                             "switch on"));
    for (const Occurrence& other : all)
      if (other.on != taken.on) {
        warnings.push_back(std::string(row.letters) + " is given twice, as " +
                           taken.word + " and " + other.word + ": " +
                           taken.word + " counts");
        break;
      }
  }
  return warnings;
}

}  // namespace hostreg
