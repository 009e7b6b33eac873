// XXH64 over bytes handed over in pieces. xxHash's header is compiled into
// checksum.cpp alone, under a prefix of the host's own, so no build needs its
// library and no other copy of it can clash.
#ifndef VTNHOST_CHECKSUM_H
#define VTNHOST_CHECKSUM_H

#include <cstddef>
#include <cstdint>

#define XXH_NAMESPACE vtnhost_
#define XXH_STATIC_LINKING_ONLY
#include <xxhash.h>

namespace vtnhost {

class Checksum
{
public:
	Checksum();
	void add(const void* data, size_t n);
	uint64_t value() const;

private:
	XXH64_state_t state_;
};

}  // namespace vtnhost

#endif
