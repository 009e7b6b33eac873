// The host's typed value streams (HyperFile): what a plug-in writes into its
// block of a scene file and reads back. Every value carries a one-byte kind, so
// a read of the wrong kind, or past the end of the data, fails instead of
// returning garbage; a failed read leaves the stream failed for good.
#ifndef VTNHOST_HYPERFILE_H
#define VTNHOST_HYPERFILE_H

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "abi/vtn_types.h"

namespace vtnhost {

class HyperStream
{
public:
	enum Kind : uint8_t
	{
		KIND_LONG = 1,
		KIND_REAL = 2,
		KIND_VECTOR = 3,
		KIND_MATRIX = 4,
		KIND_MEMORY = 5,
		KIND_LINK = 6,
	};

	// A stream to write into.
	HyperStream() = default;
	// A stream to read from (the bytes are copied).
	explicit HyperStream(std::vector<uint8_t> data) : data_(std::move(data)), reading_(true) {}

	void writeLong(Int32 v);
	void writeReal(double v);
	void writeVector(const LVector& v);
	void writeMatrix(const LMatrix& m);
	void writeMemory(const void* data, Int64 size);
	void writeLink(uint64_t file_index);

	bool readLong(Int32* v);
	bool readReal(double* v);
	bool readVector(LVector* v);
	bool readMatrix(LMatrix* m);
	// The block's bytes; false when the declared size exceeds what is left.
	bool readMemory(std::vector<uint8_t>* out);
	bool readLink(uint64_t* file_index);

	const std::vector<uint8_t>& data() const { return data_; }
	bool failed() const { return failed_; }
	size_t remaining() const { return data_.size() - pos_; }

	// While saving: node id -> index + 1 in the file; while loading: index + 1 -> node id.
	std::map<uint64_t, uint64_t> links;
	BaseDocument* document = nullptr;
	HyperFile* asHyperFile() { return reinterpret_cast<HyperFile*>(this); }
	static HyperStream* from(const void* p) { return const_cast<HyperStream*>(static_cast<const HyperStream*>(p)); }

private:
	void put(Kind kind, const void* bytes, size_t n);
	bool take(Kind kind, void* bytes, size_t n);

	std::vector<uint8_t> data_;
	size_t pos_ = 0;
	bool reading_ = false;
	bool failed_ = false;
};

}  // namespace vtnhost

#endif
