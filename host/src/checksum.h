// XXH64 over bytes handed over in pieces. xxHash is used as a header alone
// (every function inlined here), so no build needs its library.
#ifndef VTNHOST_CHECKSUM_H
#define VTNHOST_CHECKSUM_H

#include <cstddef>
#include <cstdint>

#define XXH_INLINE_ALL
#include <xxhash.h>

namespace vtnhost {

class Checksum
{
public:
	Checksum() { XXH64_reset(&state_, 0); }
	void add(const void* data, size_t n)
	{
		if (n)
			XXH64_update(&state_, data, n);
	}
	uint64_t value() const { return XXH64_digest(&state_); }

private:
	XXH64_state_t state_;
};

}  // namespace vtnhost

#endif
