#include "host/formats/creg/creg_format.h"

#include "host/formats/changes.h"
#include "host/formats/creg/checksums.h"
#include "host/formats/creg/hive.h"
#include "host/formats/creg/loader.h"
#include "host/formats/creg/writer.h"
#include "host/formats/reg/render.h"

namespace hostreg {

namespace {

class CregFile : public RegistryFile {
 public:
  bool Render(const Registry& registry, const ChangeSet& changes,
              Rendering& out, std::string& error) const override {
    if (changes.empty()) {
      out.pieces.push_back(hive_.contents);
      return true;
    }
    if (!refusal_.empty()) {
      error = refusal_;
      return false;
    }
    std::string written;
    if (!creg::Write(hive_, registry, changes, written, error)) return false;
    out.Add(std::move(written));
    return true;
  }
  std::string DescribeChanges(const Registry& registry,
                              const ChangeSet& changes) const override {
    return FormatChanges(registry, changes, kRegedit4Header, "\r\n", false);
  }
  // The file's own reason, else the writer's for these changes: files of
  // this kind are small enough to write once more for a dry run.
  std::string SaveRefusal(const Registry& registry,
                          const ChangeSet& changes) const override {
    if (!refusal_.empty() || changes.empty()) return refusal_;
    Rendering rendering;
    std::string error;
    return Render(registry, changes, rendering, error) ? std::string()
                                                       : error;
  }

  // Windows Me's Setup and registry keep HKEY_CLASSES_ROOT in CLASSES.DAT
  // (Knowledge Base article Q266270); its SYSTEM.DAT holds an empty
  // SOFTWARE\Classes, as the real one does.
  std::string ClassesElsewhere() const override {
    if (hive_.windows != creg::Windows::kMe) return std::string();
    return "Windows Me keeps in CLASSES.DAT, not in SYSTEM.DAT (this "
           "registry is Windows Me's: its VersionNumber is 4.90)";
  }

  creg::Hive hive_;
  // Why no save may go ahead, found on loading; empty when one may.
  std::string refusal_;
};

}  // namespace

bool IsCregFile(std::string_view head) { return head.substr(0, 4) == "CREG"; }

std::unique_ptr<RegistryFile> LoadCregFile(const std::string& name,
                                           std::string_view contents,
                                           Registry& registry,
                                           std::string& error) {
  auto file = std::make_unique<CregFile>();
  file->hive_.contents = std::string(contents);
  registry.SetStringRules(StringRules::kWindows9x);
  if (!creg::Load(name, file->hive_, registry, error)) return nullptr;
  file->hive_.windows = creg::WindowsOf(registry, file->hive_.contents);
  file->refusal_ = creg::ChecksumRefusal(file->hive_.contents);
  registry.MarkLoaded();
  return file;
}

}  // namespace hostreg
