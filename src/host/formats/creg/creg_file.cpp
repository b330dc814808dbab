#include "host/formats/creg/creg_file.h"

#include "host/formats/changes.h"
#include "host/formats/creg/checksums.h"
#include "host/formats/creg/image.h"
#include "host/formats/creg/loader.h"
#include "host/formats/creg/writer.h"
#include "host/formats/reg/render.h"

namespace hostreg {

namespace {

class CregFile : public RegistryFile {
 public:
  bool Render(const Registry& registry, Rendering& out,
              std::string& error) const override {
    if (!HasChanges(registry)) {
      out.pieces.push_back(image_.contents);
      return true;
    }
    if (!refusal_.empty()) {
      error = refusal_;
      return false;
    }
    std::string written;
    if (!creg::Write(image_, registry, written, error)) return false;
    out.Add(std::move(written));
    return true;
  }
  std::string DescribeChanges(const Registry& registry) const override {
    return FormatChanges(registry, kRegedit4Header, "\r\n", false);
  }
  // The file's own reason, else the writer's for these changes: files of
  // this kind are small enough to write once more for a dry run.
  std::string SaveRefusal(const Registry& registry) const override {
    if (!refusal_.empty() || !HasChanges(registry)) return refusal_;
    Rendering rendering;
    std::string error;
    return Render(registry, rendering, error) ? std::string() : error;
  }

  std::string_view Original() const override { return image_.contents; }

  creg::Image image_;
  // Why no save may go ahead, found on loading; empty when one may.
  std::string refusal_;
};

}  // namespace

bool IsCregFile(std::string_view head) { return head.substr(0, 4) == "CREG"; }

std::unique_ptr<RegistryFile> LoadCregFile(const std::string& name,
                                           std::string contents,
                                           Registry& registry,
                                           std::string& error) {
  auto file = std::make_unique<CregFile>();
  file->image_.contents = std::move(contents);
  if (!creg::Load(name, file->image_, registry, error)) return nullptr;
  file->refusal_ = creg::ChecksumRefusal(file->image_.contents);
  registry.MarkLoaded();
  return file;
}

}  // namespace hostreg
