#include "host/formats/creg/creg_file.h"

#include "host/formats/creg/image.h"
#include "host/formats/creg/layout.h"
#include "host/formats/creg/loader.h"
#include "host/formats/creg/writer.h"
#include "host/formats/reg/render.h"

namespace hostreg {

namespace {

class CregFile : public RegistryFile {
 public:
  bool Render(const Registry& registry, Rendering& out,
              std::string& error) const override {
    if (!registry.values().Changed()) {
      out.pieces.push_back(image_.contents);
      return true;
    }
    if (creg::Get32(image_.contents, creg::kHeaderChecksum) != 0 ||
        creg::Get32(image_.contents,
                    creg::kRgknOffset + creg::kRgknChecksum) != 0) {
      error = "the file carries a checksum this program cannot recompute";
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

  creg::Image image_;
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
  return file;
}

}  // namespace hostreg
