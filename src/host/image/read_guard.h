// What a run read of an image, kept so that before it writes it can tell
// whether another program changed any of it meanwhile: the partition
// tables, the volume's boot sector, FATs and folders, the files it read.
// That, and not every byte of a large image, is what the run depends on.
#ifndef REGSWITCH_HOST_IMAGE_READ_GUARD_H
#define REGSWITCH_HOST_IMAGE_READ_GUARD_H

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "host/image/disk_layout.h"

namespace hostreg {

class ReadGuard {
 public:
  using Piece = std::pair<uint64_t, std::string>;

  // A reader through `read` that keeps what it reads; it refers to this
  // guard, which must outlive it.
  ImageReader Through(ImageReader read);
  // Whether `read` gives the same bytes for all that was read. False and
  // why otherwise.
  bool Same(const ImageReader& read, std::string& error) const;

  const std::vector<Piece>& pieces() const { return pieces_; }

 private:
  std::vector<Piece> pieces_;
};

}  // namespace hostreg

#endif
