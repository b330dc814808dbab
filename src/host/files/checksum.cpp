#include "host/files/checksum.h"

// xxHash compiled in, from Debian's libxxhash-dev header: nothing of it is
// linked at run time.
#define XXH_INLINE_ALL
#include <xxhash.h>

namespace hostreg {

struct Checksum::State {
  XXH3_state_t xxh3;
};

Checksum::Checksum() : state_(std::make_unique<State>()) {
  XXH3_INITSTATE(&state_->xxh3);
  XXH3_64bits_reset(&state_->xxh3);
}

Checksum::~Checksum() = default;

void Checksum::Add(std::string_view bytes) {
  total_ += bytes.size();
  XXH3_64bits_update(&state_->xxh3, bytes.data(), bytes.size());
}

uint64_t Checksum::Value() const {
  return XXH3_64bits_digest(&state_->xxh3);
}

}  // namespace hostreg
