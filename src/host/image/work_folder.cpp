#include "host/image/work_folder.h"

#include <ftw.h>
#include <stdio.h>
#include <stdlib.h>

#include <cerrno>

#include "host/platform/platform.h"

namespace hostreg {

namespace {

int RemoveOne(const char* path, const struct stat*, int, struct FTW*) {
  ::remove(path);
  return 0;
}

}  // namespace

bool WorkFolder::Create(std::string& error) {
  const char* tmp = std::getenv("TMPDIR");
  std::string pattern =
      std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") +
      "/regswitch-XXXXXX";
  if (::mkdtemp(&pattern[0]) == nullptr) {
    error =
        "cannot make a temporary folder like " + pattern + ": " + Reason(errno);
    return false;
  }
  path_ = pattern;
  return true;
}

WorkFolder::~WorkFolder() {
  // Depth first, and never through a link.
  if (!path_.empty()) ::nftw(path_.c_str(), RemoveOne, 8, FTW_DEPTH | FTW_PHYS);
}

}  // namespace hostreg
