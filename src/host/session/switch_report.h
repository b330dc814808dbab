// What each switch of a run did, watched while the program runs: a switch
// that found nothing to change says so, so that a silent run did what was
// asked, and -v lists each value a switch wrote.
#ifndef REGSWITCH_HOST_SESSION_SWITCH_REPORT_H
#define REGSWITCH_HOST_SESSION_SWITCH_REPORT_H

#include <optional>
#include <string>
#include <vector>

#include "core/front/front.h"
#include "host/registry/registry.h"
#include "host/session/messages.h"

namespace hostreg {

class SwitchReport {
 public:
  // The rows the tail runs (none for a text with a help switch), over
  // `registry` (null for none). With `verbose`, each write is kept.
  SwitchReport(Registry* registry, const std::string& tail, bool verbose);

  // Told of each value the program writes, before it writes it.
  void Written(const Key& key, const char* name);
  // After the run: a line for each switch that wrote nothing, and with
  // `verbose` a line for each value written.
  void Tell(Messages& messages) const;

 private:
  struct Write {
    const Key* key;
    std::string name;
    std::optional<Value> was;
  };
  struct Row {
    const Tweak* tweak;
    const Key* key;  // the row's key, null when it is missing
    size_t writes = 0;
    std::vector<Write> kept;
  };

  std::string NothingFound(const Row& row) const;
  std::string Described(const Row& row, const Write& write) const;

  Registry* registry_;
  const bool verbose_;
  std::vector<Row> rows_;
};

}  // namespace hostreg

#endif
