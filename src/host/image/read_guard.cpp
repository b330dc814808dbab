#include "host/image/read_guard.h"

#include <algorithm>

namespace hostreg {

ImageReader ReadGuard::Through(ImageReader read) {
  return [this, read](uint64_t offset, char* buffer, size_t size) {
    if (!read(offset, buffer, size)) return false;
    pieces_.emplace_back(offset, std::string(buffer, size));
    return true;
  };
}

bool ReadGuard::Same(const ImageReader& read, std::string& error) const {
  std::string now;
  for (const Piece& piece : pieces_) {
    now.resize(piece.second.size());
    if (!read(piece.first, &now[0], now.size())) {
      error = "cannot read it again to check it";
      return false;
    }
    if (now != piece.second) {
      error = "changed by another program during the run";
      return false;
    }
  }
  return true;
}

}  // namespace hostreg
