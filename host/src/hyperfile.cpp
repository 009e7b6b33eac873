#include "vtnhost/hyperfile.h"

#include <algorithm>
#include <cstring>

#include "vtnhost/platform.h"

namespace vtnhost {
namespace {

// A few MB: large enough that the system sees few calls, small beside any weights.
constexpr size_t kBufferBytes = 4u << 20;

}  // namespace

// ---- sinks and sources ----

bool VectorSink::write(const void* data, size_t n)
{
	const auto* b = static_cast<const uint8_t*>(data);
	bytes.insert(bytes.end(), b, b + n);
	return true;
}

bool VectorSink::patch(uint64_t at, const void* data, size_t n)
{
	if (at > bytes.size() || n > bytes.size() - at)
		return false;
	std::memcpy(bytes.data() + at, data, n);
	return true;
}

bool FileSink::write(const void* data, size_t n)
{
	if (failed_)
		return false;
	const auto* b = static_cast<const uint8_t*>(data);
	if (buffer_.size() + n > kBufferBytes && !flush())
		return false;
	if (n >= kBufferBytes)
	{
		// Straight to the file: a weight chunk is not copied again.
		if (!file_.writeAt(flushed_, b, n, &problem_))
			return failed_ = true, false;
		flushed_ += n;
		return true;
	}
	if (buffer_.capacity() < kBufferBytes)
		buffer_.reserve(kBufferBytes);
	buffer_.insert(buffer_.end(), b, b + n);
	return true;
}

bool FileSink::patch(uint64_t at, const void* data, size_t n)
{
	if (failed_ || at + n > size())
		return false;
	const auto* b = static_cast<const uint8_t*>(data);
	// The part already in the file is written in place, the rest in the buffer.
	while (n > 0 && at < flushed_)
	{
		const size_t k = static_cast<size_t>(std::min<uint64_t>(n, flushed_ - at));
		if (!file_.writeAt(at, b, k, &problem_))
			return failed_ = true, false;
		at += k;
		b += k;
		n -= k;
	}
	if (n > 0)
		std::memcpy(buffer_.data() + (at - flushed_), b, n);
	return true;
}

bool FileSink::flush()
{
	if (failed_)
		return false;
	if (!buffer_.empty() && !file_.writeAt(flushed_, buffer_.data(), buffer_.size(), &problem_))
		return failed_ = true, false;
	flushed_ += buffer_.size();
	buffer_.clear();
	return true;
}

bool MemorySource::readAt(uint64_t offset, void* out, size_t n)
{
	if (offset > size_ || n > size_ - offset)
		return false;
	if (n)
		std::memcpy(out, data_ + offset, n);
	return true;
}

FileSource::FileSource(platform::InFile& file) : file_(file), size_(file.size()) {}

bool FileSource::readAt(uint64_t offset, void* out, size_t n)
{
	if (offset > size_ || n > size_ - offset)
		return false;
	if (n == 0)
		return true;
	if (offset >= windowAt_ && offset + n <= windowAt_ + window_.size())
	{
		std::memcpy(out, window_.data() + (offset - windowAt_), n);
		return true;
	}
	if (n >= kBufferBytes / 2)
	{
		fetched_ += n;
		return file_.readAt(offset, out, n, &problem_);
	}
	const size_t fill = static_cast<size_t>(std::min<uint64_t>(kBufferBytes, size_ - offset));
	window_.resize(fill);
	windowAt_ = offset;
	fetched_ += fill;
	if (!file_.readAt(offset, window_.data(), fill, &problem_))
	{
		window_.clear();
		return false;
	}
	std::memcpy(out, window_.data(), n);
	return true;
}

// ---- the stream ----

HyperStream::HyperStream() : ownSink_(std::make_unique<VectorSink>()), sink_(ownSink_.get()) {}

HyperStream::HyperStream(std::vector<uint8_t> data)
    : ownBytes_(std::move(data)), ownSource_(std::make_unique<MemorySource>(ownBytes_.data(), ownBytes_.size())),
      source_(ownSource_.get()), end_(ownBytes_.size())
{
}

HyperStream::HyperStream(ByteSink* sink) : sink_(sink) {}

HyperStream::HyperStream(ByteSource* source, uint64_t begin, uint64_t end) : source_(source), pos_(begin), end_(end) {}

const std::vector<uint8_t>& HyperStream::data() const
{
	static const std::vector<uint8_t> none;
	return ownSink_ ? ownSink_->bytes : (ownSource_ ? ownBytes_ : none);
}

void HyperStream::put(Kind kind, const void* bytes, size_t n)
{
	if (!sink_ || !sink_->write(&kind, 1) || !sink_->write(bytes, n))
		failed_ = true;
}

bool HyperStream::take(Kind kind, void* bytes, size_t n)
{
	uint8_t k = 0;
	if (failed_ || !source_ || inMemory_ || remaining() < 1 + n || !source_->readAt(pos_, &k, 1) || k != kind ||
	    !source_->readAt(pos_ + 1, bytes, n))
	{
		failed_ = true;
		return false;
	}
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
		writeMemoryPart(data, static_cast<size_t>(n));
}

uint64_t HyperStream::beginMemory()
{
	const uint64_t zero = 0;
	put(KIND_MEMORY, &zero, sizeof zero);
	return sink_ ? sink_->size() - sizeof zero : 0;
}

void HyperStream::writeMemoryPart(const void* data, size_t n)
{
	if (!sink_ || !sink_->write(data, n))
		failed_ = true;
}

bool HyperStream::endMemory(uint64_t at)
{
	if (failed_ || !sink_)
		return false;
	const uint64_t n = sink_->size() - at - sizeof(uint64_t);
	if (!sink_->patch(at, &n, sizeof n))
		failed_ = true;
	return !failed_;
}

bool HyperStream::readLong(Int32* v) { return take(KIND_LONG, v, sizeof *v); }
bool HyperStream::readReal(double* v) { return take(KIND_REAL, v, sizeof *v); }
bool HyperStream::readVector(LVector* v) { return take(KIND_VECTOR, v, sizeof *v); }
bool HyperStream::readMatrix(LMatrix* m) { return take(KIND_MATRIX, m, sizeof *m); }
bool HyperStream::readLink(uint64_t* file_index) { return take(KIND_LINK, file_index, sizeof *file_index); }

bool HyperStream::readMemory(std::vector<uint8_t>* out)
{
	uint64_t n = 0;
	if (!beginMemory(&n))
		return false;
	out->resize(static_cast<size_t>(n));
	const bool ok = readMemoryPart(out->data(), out->size());
	endMemory();
	return ok;
}

bool HyperStream::beginMemory(uint64_t* size)
{
	uint64_t n = 0;
	if (!take(KIND_MEMORY, &n, sizeof n))
		return false;
	// Checked before anyone allocates for it.
	if (n > remaining() || n > SIZE_MAX)
	{
		failed_ = true;
		return false;
	}
	*size = n;
	memBegin_ = memPos_ = pos_;
	memEnd_ = pos_ + n;
	inMemory_ = true;
	return true;
}

bool HyperStream::readMemoryPart(void* out, size_t n)
{
	if (failed_ || !inMemory_ || n > memEnd_ - memPos_ || !source_->readAt(memPos_, out, n))
		return failed_ = true, false;
	memPos_ += n;
	return true;
}

bool HyperStream::readMemoryAt(uint64_t offset, void* out, size_t n)
{
	if (failed_ || !inMemory_ || offset > memEnd_ - memBegin_ || n > memEnd_ - memBegin_ - offset ||
	    !source_->readAt(memBegin_ + offset, out, n))
		return failed_ = true, false;
	return true;
}

void HyperStream::endMemory()
{
	if (!inMemory_)
		return;
	pos_ = memEnd_;
	inMemory_ = false;
}

}  // namespace vtnhost
