// Out of line on purpose: inlined into callers that hash a few bytes, xxHash's
// update trips GCC's array-bounds analysis at -O3 (a false alarm, but fatal
// with warnings as errors).
#define XXH_IMPLEMENTATION
#include "checksum.h"

namespace vtnhost {

Checksum::Checksum() { XXH64_reset(&state_, 0); }

void Checksum::add(const void* data, size_t n)
{
	if (n)
		XXH64_update(&state_, data, n);
}

uint64_t Checksum::value() const { return XXH64_digest(&state_); }

}  // namespace vtnhost
