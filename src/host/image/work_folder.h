// A private folder for the run's copies of files from the image, removed
// with whatever is in it when the run ends (a run killed outright leaves
// it: $TMPDIR/regswitch-XXXXXX).
#ifndef REGSWITCH_HOST_IMAGE_WORK_FOLDER_H
#define REGSWITCH_HOST_IMAGE_WORK_FOLDER_H

#include <string>

namespace hostreg {

class WorkFolder {
 public:
  WorkFolder() = default;
  ~WorkFolder();
  WorkFolder(const WorkFolder&) = delete;
  WorkFolder& operator=(const WorkFolder&) = delete;

  // Makes the folder in $TMPDIR, else /tmp; false and why when it cannot.
  bool Create(std::string& error);
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

}  // namespace hostreg

#endif
