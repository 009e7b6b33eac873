// The host's typed value streams (HyperFile): what a plug-in writes into its
// block of a scene file and reads back. Every value carries a one-byte kind, so
// a read of the wrong kind, or past the end of the data, fails instead of
// returning garbage; a failed read leaves the stream failed for good.
//
// A stream writes into a sink and reads from a range of a source, so that a
// scene file goes to disk and comes back through a buffer of its own size
// class, never whole in memory. A memory value can be written and read in
// pieces: its bytes are the same as when written in one go.
#ifndef VTNHOST_HYPERFILE_H
#define VTNHOST_HYPERFILE_H

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "abi/vtn_types.h"

namespace vtnhost {

namespace platform {
class OutFile;
class InFile;
}  // namespace platform

// Where written bytes go: appended, with an earlier part rewritten in place
// (a length that is known only once its value is written).
class ByteSink
{
public:
	virtual ~ByteSink() = default;
	virtual bool write(const void* data, size_t n) = 0;
	virtual bool patch(uint64_t at, const void* data, size_t n) = 0;
	// Bytes written so far.
	virtual uint64_t size() const = 0;
};

class VectorSink : public ByteSink
{
public:
	bool write(const void* data, size_t n) override;
	bool patch(uint64_t at, const void* data, size_t n) override;
	uint64_t size() const override { return bytes.size(); }
	std::vector<uint8_t> bytes;
};

// A file written through a buffer of a few MB.
class FileSink : public ByteSink
{
public:
	explicit FileSink(platform::OutFile& file) : file_(file) {}
	bool write(const void* data, size_t n) override;
	bool patch(uint64_t at, const void* data, size_t n) override;
	uint64_t size() const override { return flushed_ + buffer_.size(); }
	// Writes out what the buffer holds; false (and problem()) once anything failed.
	bool flush();
	const std::string& problem() const { return problem_; }

private:
	platform::OutFile& file_;
	std::vector<uint8_t> buffer_;
	uint64_t flushed_ = 0;
	bool failed_ = false;
	std::string problem_;
};

// Where read bytes come from, by offset.
class ByteSource
{
public:
	virtual ~ByteSource() = default;
	virtual uint64_t size() const = 0;
	// Exactly n bytes at offset, or false.
	virtual bool readAt(uint64_t offset, void* out, size_t n) = 0;
};

// Bytes in memory, held elsewhere.
class MemorySource : public ByteSource
{
public:
	MemorySource(const uint8_t* data, size_t size) : data_(data), size_(size) {}
	uint64_t size() const override { return size_; }
	bool readAt(uint64_t offset, void* out, size_t n) override;

private:
	const uint8_t* data_;
	size_t size_;
};

// A file read through a window of a few MB; large reads go straight to their target.
class FileSource : public ByteSource
{
public:
	explicit FileSource(platform::InFile& file);
	uint64_t size() const override { return size_; }
	bool readAt(uint64_t offset, void* out, size_t n) override;
	// Bytes fetched from the file so far (each byte once per fetch).
	uint64_t fetched() const { return fetched_; }
	const std::string& problem() const { return problem_; }

private:
	platform::InFile& file_;
	uint64_t size_;
	std::vector<uint8_t> window_;
	uint64_t windowAt_ = 0;
	uint64_t fetched_ = 0;
	std::string problem_;
};

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

	// A stream to write into (data() holds what was written).
	HyperStream();
	// A stream to read from (the bytes are kept by the stream).
	explicit HyperStream(std::vector<uint8_t> data);
	// A stream that writes into sink (which must outlive it).
	explicit HyperStream(ByteSink* sink);
	// A stream that reads bytes [begin, end) of source (which must outlive it).
	HyperStream(ByteSource* source, uint64_t begin, uint64_t end);
	HyperStream(HyperStream&&) = default;
	HyperStream& operator=(HyperStream&&) = default;

	void writeLong(Int32 v);
	void writeReal(double v);
	void writeVector(const LVector& v);
	void writeMatrix(const LMatrix& m);
	void writeMemory(const void* data, Int64 size);
	void writeLink(uint64_t file_index);
	// A memory value in pieces: begin gives the place of its length, each part
	// adds bytes, end writes the length there.
	uint64_t beginMemory();
	void writeMemoryPart(const void* data, size_t n);
	bool endMemory(uint64_t at);

	bool readLong(Int32* v);
	bool readReal(double* v);
	bool readVector(LVector* v);
	bool readMatrix(LMatrix* m);
	// The block's bytes; false when the declared size exceeds what is left.
	bool readMemory(std::vector<uint8_t>* out);
	bool readLink(uint64_t* file_index);
	// A memory value in pieces: begin gives its size (false when it exceeds
	// what is left), parts read on in order, readMemoryAt reads at an offset
	// in the value, and end goes on behind the value, whatever was read.
	bool beginMemory(uint64_t* size);
	bool readMemoryPart(void* out, size_t n);
	bool readMemoryAt(uint64_t offset, void* out, size_t n);
	void endMemory();

	// The bytes of a stream that writes into its own memory, or reads from it.
	const std::vector<uint8_t>& data() const;
	bool failed() const { return failed_; }
	void fail() { failed_ = true; }
	uint64_t remaining() const { return end_ - pos_; }

	// While saving: node id -> index + 1 in the file; while loading: index + 1 -> node id.
	std::map<uint64_t, uint64_t> links;
	BaseDocument* document = nullptr;
	// Loading for a look at a scene: packed memory values are passed over and only their plain size is told.
	bool packedSkipped = false;
	HyperFile* asHyperFile() { return reinterpret_cast<HyperFile*>(this); }
	static HyperStream* from(const void* p) { return const_cast<HyperStream*>(static_cast<const HyperStream*>(p)); }

private:
	void put(Kind kind, const void* bytes, size_t n);
	bool take(Kind kind, void* bytes, size_t n);

	std::unique_ptr<VectorSink> ownSink_;
	std::vector<uint8_t> ownBytes_;
	std::unique_ptr<MemorySource> ownSource_;
	ByteSink* sink_ = nullptr;
	ByteSource* source_ = nullptr;
	uint64_t pos_ = 0, end_ = 0;
	uint64_t memBegin_ = 0, memEnd_ = 0, memPos_ = 0;
	bool inMemory_ = false;
	bool failed_ = false;
};

}  // namespace vtnhost

#endif
