#include "vtnhost/hyperfile.h"

#include <cstring>

namespace vtnhost {

void HyperStream::put(Kind kind, const void* bytes, size_t n)
{
	data_.push_back(kind);
	const auto* b = static_cast<const uint8_t*>(bytes);
	data_.insert(data_.end(), b, b + n);
}

bool HyperStream::take(Kind kind, void* bytes, size_t n)
{
	if (failed_ || !reading_ || remaining() < 1 + n || data_[pos_] != kind)
	{
		failed_ = true;
		return false;
	}
	std::memcpy(bytes, &data_[pos_ + 1], n);
	pos_ += 1 + n;
	return true;
}

void HyperStream::writeLong(Int32 v) { put(KIND_LONG, &v, sizeof v); }
void HyperStream::writeReal(double v) { put(KIND_REAL, &v, sizeof v); }
void HyperStream::writeVector(const LVector& v) { put(KIND_VECTOR, &v, sizeof v); }
void HyperStream::writeMatrix(const LMatrix& m) { put(KIND_MATRIX, &m, sizeof m); }
void HyperStream::writeLink(uint64_t file_index) { put(KIND_LINK, &file_index, sizeof file_index); }

void HyperStream::writeMemory(const void* data, Int64 size)
{
	const uint64_t n = size > 0 ? static_cast<uint64_t>(size) : 0;
	put(KIND_MEMORY, &n, sizeof n);
	if (n)
		data_.insert(data_.end(), static_cast<const uint8_t*>(data), static_cast<const uint8_t*>(data) + n);
}

bool HyperStream::readLong(Int32* v) { return take(KIND_LONG, v, sizeof *v); }
bool HyperStream::readReal(double* v) { return take(KIND_REAL, v, sizeof *v); }
bool HyperStream::readVector(LVector* v) { return take(KIND_VECTOR, v, sizeof *v); }
bool HyperStream::readMatrix(LMatrix* m) { return take(KIND_MATRIX, m, sizeof *m); }
bool HyperStream::readLink(uint64_t* file_index) { return take(KIND_LINK, file_index, sizeof *file_index); }

bool HyperStream::readMemory(std::vector<uint8_t>* out)
{
	uint64_t n = 0;
	if (!take(KIND_MEMORY, &n, sizeof n))
		return false;
	if (n > remaining())
	{
		failed_ = true;
		return false;
	}
	out->assign(data_.begin() + static_cast<std::ptrdiff_t>(pos_), data_.begin() + static_cast<std::ptrdiff_t>(pos_ + n));
	pos_ += n;
	return true;
}

}  // namespace vtnhost
