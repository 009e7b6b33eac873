// The host's scene files. Little-endian binary.
//
// This version (2):
//   "VTNSCN2" and a zero byte, u32 version (2), u32 object count, then for
//   each object { u64 record size, u64 record XXH64, u64 block size, u64
//   block XXH64 }, then the XXH64 of all of the above; then each object's
//   record and its plug-in block, in tree order (a parent always before its
//   children), and nothing after them.
//   A record: the object's parent, type, name, matrix, modes, colours,
//   geometry, parameters, tags and restrictions, and a byte that says whether
//   it has a plug-in block. A block: the plug-in's stream of typed values;
//   then the place (from the block's start, ascending) of every length that
//   was written into that stream after the bytes it counts, u64 each; then
//   their number, u32. A block's checksum covers its stream with those
//   lengths as zeros (as they were first written), then the lengths, then the
//   places and their number: a writer sums each byte once, as it goes.
// The header is read and checked whole before anything else, so every size
// after it is one the writer wrote; a damaged header or record refuses the
// file, a damaged block leaves its object without its plug-in's data.
// The magic differs from the first version's in three bytes, so no damaged
// byte makes a file of this version pass for one without checksums.
//
// The first version: "VTNSCENE", u32 version (1), u32 object count, then the
// objects in tree order, each a record as above followed by u64 block size
// and the block's stream; no checksums. Every count is checked against the
// bytes that are left before anything is allocated for it.
#include <algorithm>
#include <cstring>

#include "checksum.h"
#include "vtnhost/host.h"
#include "vtnhost/hyperfile.h"
#include "vtnhost/platform.h"

namespace vtnhost {
namespace {

constexpr char kMagic1[8] = {'V', 'T', 'N', 'S', 'C', 'E', 'N', 'E'};
constexpr char kMagic2[8] = {'V', 'T', 'N', 'S', 'C', 'N', '2', '\0'};
constexpr uint32_t kVersion1 = 1, kVersion2 = 2;
constexpr size_t kEntryBytes = 32;
// No object's record is shorter than this (its matrix alone is 96 bytes).
constexpr size_t kLeastRecord = 64;
// Bytes summed or copied in one go while a part of a file is checked.
constexpr size_t kPieceBytes = 1u << 20;

class Writer
{
public:
	explicit Writer(ByteSink& sink) : sink(sink) {}
	template <typename T> void pod(const T& v) { sink.write(&v, sizeof(T)); }
	void text(const std::string& s)
	{
		pod(static_cast<uint32_t>(s.size()));
		sink.write(s.data(), s.size());
	}
	template <typename T> void array(const std::vector<T>& v)
	{
		pod(static_cast<uint32_t>(v.size()));
		sink.write(v.data(), v.size() * sizeof(T));
	}
	ByteSink& sink;
};

// One part of a file on its way out: summed as it passes, and, for a plug-in
// block, the lengths written into it afterwards remembered by their place.
// A length is always written as eight zero bytes first (HyperStream does).
class SummingSink : public ByteSink
{
public:
	SummingSink(ByteSink& out, FileJob* job) : out_(out), start_(out.size()), job_(job) {}
	bool write(const void* data, size_t n) override
	{
		if (failed_ || (job_ && n && !job_->go(n)))
			return failed_ = true, false;
		sum_.add(data, n);
		return out_.write(data, n) || (failed_ = true, false);
	}
	bool patch(uint64_t at, const void* data, size_t n) override
	{
		uint64_t v;
		if (failed_ || n != sizeof v || at < start_ || at + n > out_.size())
			return failed_ = true, false;
		std::memcpy(&v, data, n);
		lengths_[at - start_] = v;
		return out_.patch(at, data, n) || (failed_ = true, false);
	}
	uint64_t size() const override { return out_.size(); }
	// A record ends as it is.
	void endRecord(uint64_t* size, uint64_t* sum)
	{
		if (!lengths_.empty())
			failed_ = true;
		*size = out_.size() - start_;
		*sum = sum_.value();
	}
	// A block ends with its lengths' places and their number.
	void endBlock(uint64_t* size, uint64_t* sum)
	{
		std::vector<uint64_t> trailer;
		for (const auto& [at, v] : lengths_)
		{
			sum_.add(&v, sizeof v);
			trailer.push_back(at);
		}
		const uint32_t count = static_cast<uint32_t>(trailer.size());
		sum_.add(trailer.data(), trailer.size() * sizeof(uint64_t));
		sum_.add(&count, sizeof count);
		if (!out_.write(trailer.data(), trailer.size() * sizeof(uint64_t)) || !out_.write(&count, sizeof count))
			failed_ = true;
		*size = out_.size() - start_;
		*sum = sum_.value();
	}
	bool failed() const { return failed_; }

private:
	ByteSink& out_;
	uint64_t start_;
	FileJob* job_;
	Checksum sum_;
	std::map<uint64_t, uint64_t> lengths_;
	bool failed_ = false;
};

// Reads bytes [begin, end) of a source in order; the plug-in blocks are only
// passed over here and read from their place once every object exists.
class Reader
{
public:
	Reader(ByteSource& in, uint64_t begin, uint64_t end) : in_(in), pos_(begin), end_(end) {}
	template <typename T> bool pod(T* v)
	{
		if (left() < sizeof(T) || !in_.readAt(pos_, v, sizeof(T)))
			return false;
		pos_ += sizeof(T);
		return true;
	}
	bool text(std::string* s)
	{
		uint32_t n;
		if (!pod(&n) || n > left())
			return false;
		s->resize(n);
		if (n && !in_.readAt(pos_, &(*s)[0], n))
			return false;
		pos_ += n;
		return true;
	}
	template <typename T> bool array(std::vector<T>* v)
	{
		uint32_t n;
		if (!pod(&n) || n > left() / sizeof(T))
			return false;
		v->resize(n);
		if (n && !in_.readAt(pos_, v->data(), n * sizeof(T)))
			return false;
		pos_ += n * sizeof(T);
		return true;
	}
	// A run of bytes with its 64-bit length in front: where it starts, and how long it is.
	bool span(uint64_t* at, uint64_t* n)
	{
		if (!pod(n) || *n > left())
			return false;
		*at = pos_;
		pos_ += *n;
		return true;
	}
	// A count of elements that take at least `least` bytes each.
	bool count(uint32_t* n, size_t least)
	{
		return pod(n) && *n <= left() / least;
	}
	bool atEnd() const { return pos_ == end_; }
	uint64_t pos() const { return pos_; }
	uint64_t left() const { return end_ - pos_; }

private:
	ByteSource& in_;
	uint64_t pos_, end_;
};

void writeContainer(Writer& w, const VtnContainer& bc, const std::map<uint64_t, uint64_t>& index)
{
	w.pod(static_cast<uint32_t>(bc.entries.size()));
	for (const auto& [id, v] : bc.entries)
	{
		w.pod(id);
		w.pod(v.type);
		switch (v.type)
		{
			case VTN_DA_REAL: w.pod(v.r); break;
			case VTN_DA_STRING: w.text(v.s); break;
			case VTN_DA_LINK:
			{
				auto it = index.find(v.link);
				w.pod(static_cast<uint64_t>(it == index.end() ? 0 : it->second));
				break;
			}
			default: w.pod(v.l); break;
		}
	}
}

// Links come back as file indices; they are turned into node ids once every object exists.
bool readContainer(Reader& r, VtnContainer* bc)
{
	uint32_t n;
	if (!r.count(&n, 12))
		return false;
	for (uint32_t k = 0; k < n; ++k)
	{
		Int32 id;
		Value v;
		if (!r.pod(&id) || !r.pod(&v.type))
			return false;
		bool ok;
		switch (v.type)
		{
			case VTN_DA_REAL: ok = r.pod(&v.r); break;
			case VTN_DA_STRING: ok = r.text(&v.s); break;
			case VTN_DA_LINK: ok = r.pod(&v.link); break;
			case VTN_DA_LONG:
			case VTN_DA_BOOL: ok = r.pod(&v.l); break;
			default: return false;
		}
		if (!ok)
			return false;
		bc->entries[id] = v;
	}
	return true;
}

// Everything of an object but its plug-in's block, ending with whether it has one.
void writeRecord(Writer& w, Object* o, Int32 parent, const std::map<uint64_t, uint64_t>& index)
{
	w.pod(parent);
	w.pod(o->type());
	w.text(o->name);
	w.pod(o->matrix);
	w.pod(o->editorMode);
	w.pod(o->renderMode);
	w.pod(static_cast<uint8_t>(o->deformMode));
	w.pod(static_cast<uint8_t>(o->colors.useColor));
	w.pod(static_cast<uint8_t>(o->colors.xray));
	w.pod(o->colors.color);
	w.array(o->points);
	w.array(o->polygons);
	w.pod(static_cast<uint32_t>(o->ngons.size()));
	for (const Object::Ngon& g : o->ngons)
	{
		w.array(g.outline);
		w.array(g.parts);
	}
	writeContainer(w, o->container(), index);
	w.pod(static_cast<uint32_t>(o->tags.size()));
	for (const auto& t : o->tags)
	{
		w.pod(t->type());
		w.text(t->name);
		writeContainer(w, t->container(), index);
		w.array(std::vector<Int32>(t->select.indices.begin(), t->select.indices.end()));
	}
	w.pod(static_cast<uint32_t>(o->restrictions.size()));
	for (const auto& [target, weights] : o->restrictions)
	{
		auto it = index.find(target);
		w.pod(static_cast<uint64_t>(it == index.end() ? 0 : it->second));
		w.array(weights);
	}
	w.pod(static_cast<uint8_t>(o->nodeData() ? 1 : 0));
}

// The plug-in's own block, through a stream of typed values straight into the file.
void writeBlock(Host& host, ByteSink& sink, Object* o, const std::map<uint64_t, uint64_t>& index, Document* doc)
{
	if (!o->nodeData())
		return;
	HyperStream hs(&sink);
	hs.links = index;
	hs.document = doc->asDocument();
	const bool written = o->callWrite(hs.asHyperFile()) && !hs.failed();
	const FileJob* job = host.fileJob();
	if (!written && !(job && job->cancelled()))
		host.error(o->name + ": its plug-in could not write its data");
}

// Where one object's parts are in a file, and (from version 2 on) their checksums.
struct Part
{
	uint64_t at = 0, size = 0, sum = 0;
};
struct Entry
{
	Part record, block;
	uint64_t streamEnd = 0;  // where the block's stream of values ends
};

// An object's record, read up to the byte that says whether it has a block;
// the object goes into the document under its parent. Empty, or what is wrong.
std::string readRecord(Host& host, Reader& r, Int32 index, Document* doc, std::vector<Object*>& objects, bool* has_block)
{
	Int32 parent, type, editor, render;
	std::string name;
	LMatrix matrix;
	uint8_t deform, use_color, xray;
	LVector color;
	if (!r.pod(&parent) || !r.pod(&type) || !r.text(&name) || !r.pod(&matrix) || !r.pod(&editor) || !r.pod(&render) ||
	    !r.pod(&deform) || !r.pod(&use_color) || !r.pod(&xray) || !r.pod(&color))
		return "truncated header";
	if (parent < -1 || parent >= index)
		return "its parent is not an earlier object";
	std::unique_ptr<Object> op = host.newStandIn(type, name);
	if (!op)
		return "an object of type " + std::to_string(type) + " cannot be made";
	op->name = name;
	op->matrix = matrix;
	op->editorMode = editor;
	op->renderMode = render;
	op->deformMode = deform != 0;
	op->colors = {color, use_color != 0, xray != 0};
	uint32_t ngons, tags, restrictions;
	if (!r.array(&op->points) || !r.array(&op->polygons) || !r.count(&ngons, 8))
		return "truncated geometry";
	for (uint32_t k = 0; k < ngons; ++k)
	{
		Object::Ngon g;
		if (!r.array(&g.outline) || !r.array(&g.parts))
			return "truncated n-gon";
		op->ngons.push_back(std::move(g));
	}
	op->container().entries.clear();
	if (!readContainer(r, &op->container()) || !r.count(&tags, 16))
		return "damaged parameters";
	for (uint32_t k = 0; k < tags; ++k)
	{
		Int32 tag_type;
		std::string tag_name;
		std::vector<Int32> selected;
		if (!r.pod(&tag_type) || !r.text(&tag_name))
			return "damaged tag";
		auto tag = std::make_unique<Tag>(host.nextNodeId(), tag_type, nullptr);
		tag->name = tag_name;
		if (!readContainer(r, &tag->container()) || !r.array(&selected))
			return "damaged tag";
		tag->select.indices.insert(selected.begin(), selected.end());
		op->insertTag(std::move(tag), op->tags.empty() ? nullptr : op->tags.back().get());
	}
	if (!r.count(&restrictions, 12))
		return "damaged restrictions";
	for (uint32_t k = 0; k < restrictions; ++k)
	{
		uint64_t target;
		std::vector<float> weights;
		if (!r.pod(&target) || !r.array(&weights))
			return "damaged restrictions";
		op->restrictions[target] = std::move(weights);
	}
	uint8_t has;
	if (!r.pod(&has))
		return "truncated plug-in block";
	*has_block = has != 0;
	Object* raw = op.get();
	Object* parent_op = parent >= 0 ? objects[static_cast<size_t>(parent)] : nullptr;
	const auto& siblings = parent_op ? parent_op->children() : doc->roots();
	doc->insert(std::move(op), parent_op, siblings.empty() ? nullptr : siblings.back().get());
	objects.push_back(raw);
	return {};
}

// Sums bytes [at, at + n) of a source in pieces, with the eight bytes at each
// of the ascending places in `zeroed` (from `at`) summed as zeros.
bool sumRange(ByteSource& in, uint64_t at, uint64_t n, const std::vector<uint64_t>& zeroed, Checksum* sum, FileJob* job)
{
	std::vector<uint8_t> piece(static_cast<size_t>(std::min<uint64_t>(n, kPieceBytes)));
	size_t next = 0;
	for (uint64_t done = 0; done < n;)
	{
		const size_t k = static_cast<size_t>(std::min<uint64_t>(n - done, kPieceBytes));
		if (!in.readAt(at + done, piece.data(), k) || (job && !job->go(k)))
			return false;
		for (; next < zeroed.size() && zeroed[next] < done + k; ++next)
		{
			const uint64_t from = std::max(zeroed[next], done), to = std::min(zeroed[next] + 8, done + k);
			std::memset(piece.data() + (from - done), 0, static_cast<size_t>(to - from));
			// A length cut by the piece's end is zeroed on in the next piece.
			if (zeroed[next] + 8 > done + k)
				break;
		}
		sum->add(piece.data(), k);
		done += k;
		if (job)
			job->show("loading", at + done, in.size());
	}
	return true;
}

bool partSums(ByteSource& in, const Part& p, FileJob* job)
{
	Checksum sum;
	return sumRange(in, p.at, p.size, {}, &sum, job) && sum.value() == p.sum;
}

// A block of version 2: where its stream ends, and (with check) whether its
// checksum holds. A damaged count of lengths costs at most half the block's
// size (which the checked header gave) in memory before the sum refuses it.
bool readBlock(ByteSource& in, Entry* e, bool check, FileJob* job)
{
	const Part& b = e->block;
	uint32_t count;
	if (b.size < sizeof count || !in.readAt(b.at + b.size - sizeof count, &count, sizeof count) ||
	    count > (b.size - sizeof count) / 16)
		return false;
	const uint64_t trailer = b.at + b.size - sizeof count - uint64_t{count} * 8;
	e->streamEnd = trailer;
	const uint64_t stream = trailer - b.at;
	// Ascending places, each with its whole length inside the stream.
	std::vector<uint64_t> places(count);
	if (count && !in.readAt(trailer, places.data(), places.size() * 8))
		return false;
	for (size_t i = 0; i < places.size(); ++i)
		if (stream < 8 || places[i] > stream - 8 || (i > 0 && places[i] < places[i - 1] + 8))
			return false;
	if (!check)
		return true;
	Checksum sum;
	if (!sumRange(in, b.at, stream, places, &sum, job))
		return false;
	for (uint64_t place : places)
	{
		uint64_t v;
		if (!in.readAt(b.at + place, &v, sizeof v))
			return false;
		sum.add(&v, sizeof v);
	}
	return sumRange(in, trailer, b.size - stream, {}, &sum, job) && sum.value() == b.sum;
}

// What a damaged record is called: its number, and its name when that reads as text.
std::string recordName(ByteSource& in, const Part& p, uint32_t index, uint32_t count)
{
	std::string what = "object " + std::to_string(index + 1) + " of " + std::to_string(count);
	Reader r(in, p.at, p.at + p.size);
	Int32 parent, type;
	std::string name;
	if (!r.pod(&parent) || !r.pod(&type) || !r.text(&name) || name.empty() || name.size() > 200)
		return what;
	for (char c : name)
		if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f || c == '"')
			return what;
	return what + " (\"" + name + "\")";
}

// The header of version 2 (its magic already read): every object's parts,
// placed one after the other, with the file ending behind the last. Empty, or what is wrong.
std::string readHeader2(ByteSource& in, std::vector<Entry>* entries)
{
	Reader r(in, 8, in.size());
	uint32_t version, count;
	if (!r.pod(&version))
		return "damaged: the header is cut short";
	if (version != kVersion2)
		return "unsupported scene file version " + std::to_string(version) + " (damaged, or from a newer version)";
	if (!r.pod(&count) || r.left() < 8 || count > (r.left() - 8) / (kEntryBytes + kLeastRecord))
		return "damaged: the header is cut short, or its object count is beyond the end of the file";
	std::vector<uint64_t> raw(size_t{count} * 4);
	uint64_t stored;
	Checksum sum;
	const uint64_t table = r.pos();
	if ((count && !in.readAt(table, raw.data(), raw.size() * 8)) || !in.readAt(table + raw.size() * 8, &stored, sizeof stored))
		return "damaged: the header is cut short";
	char head[16];
	if (!in.readAt(0, head, sizeof head))
		return "damaged: the header is cut short";
	sum.add(head, sizeof head);
	sum.add(raw.data(), raw.size() * 8);
	if (sum.value() != stored)
		return "damaged: the header's checksum does not match";
	uint64_t at = table + raw.size() * 8 + sizeof stored;
	entries->resize(count);
	for (uint32_t i = 0; i < count; ++i)
	{
		Entry& e = (*entries)[i];
		e.record = {at, raw[4 * i], raw[4 * i + 1]};
		if (e.record.size > in.size() - at)
			return "damaged: the file is cut short";
		at += e.record.size;
		e.block = {at, raw[4 * i + 2], raw[4 * i + 3]};
		if (e.block.size > in.size() - at)
			return "damaged: the file is cut short";
		at += e.block.size;
	}
	if (at != in.size())
		return "damaged: data after the last object";
	return {};
}

}  // namespace

FileJob::FileJob(Host& host, Thread* thread) : host_(host), outer_(host.fileJob()), thread_(thread) { host.setFileJob(this); }

FileJob::~FileJob() { host_.setFileJob(outer_); }

void FileJob::show(const char* step, uint64_t done, uint64_t total)
{
	const int percent = total == 0 ? 100 : static_cast<int>(static_cast<double>(std::min(done, total)) * 100.0 / static_cast<double>(total));
	if (!step_ || std::strcmp(step, step_) != 0)
	{
		step_ = step;
		host_.setStatusText(step);
		percent_ = -1;
	}
	if (percent != percent_)
	{
		percent_ = percent;
		host_.setStatusBar(percent);
	}
}

bool FileJob::go(uint64_t bytes)
{
	if (cancelled_)
		return false;
	sinceTest_ += bytes;
	if (bytes == 0 || sinceTest_ >= kPieceBytes)
	{
		sinceTest_ = 0;
		cancelled_ = thread_ && thread_->testBreak();
	}
	return !cancelled_;
}

void Host::encodeDocument(Document* doc, ByteSink& sink)
{
	const std::vector<Object*> objects = doc->objects();
	std::map<uint64_t, uint64_t> index;
	for (size_t i = 0; i < objects.size(); ++i)
		index[objects[i]->id()] = i + 1;
	FileJob* job = fileJob_;
	Writer w(sink);
	const uint64_t start = sink.size();
	const uint32_t count = static_cast<uint32_t>(objects.size());
	sink.write(kMagic2, 8);
	w.pod(kVersion2);
	w.pod(count);
	// The table and its checksum are known at the end; zeros hold their place.
	std::vector<uint64_t> table(size_t{count} * 4 + 1);
	sink.write(table.data(), table.size() * 8);
	for (uint32_t i = 0; i < count && !(job && job->cancelled()); ++i)
	{
		Object* o = objects[i];
		if (job)
		{
			job->show("saving", i, count);
			job->go();
		}
		const Int32 parent = o->parent() ? static_cast<Int32>(index[o->parent()->id()] - 1) : -1;
		SummingSink record(sink, job);
		Writer rw(record);
		writeRecord(rw, o, parent, index);
		record.endRecord(&table[4 * i], &table[4 * i + 1]);
		SummingSink block(sink, job);
		writeBlock(*this, block, o, index, doc);
		block.endBlock(&table[4 * i + 2], &table[4 * i + 3]);
	}
	Checksum sum;
	char head[16];
	std::memcpy(head, kMagic2, 8);
	std::memcpy(head + 8, &kVersion2, 4);
	std::memcpy(head + 12, &count, 4);
	sum.add(head, sizeof head);
	sum.add(table.data(), (table.size() - 1) * 8);
	table.back() = sum.value();
	sink.patch(start + sizeof head, table.data(), table.size() * 8);
	if (job)
		job->show("saving", count, count);
}

std::vector<uint8_t> Host::encodeDocument(Document* doc)
{
	VectorSink sink;
	encodeDocument(doc, sink);
	return std::move(sink.bytes);
}

Document* Host::decodeDocument(const std::vector<uint8_t>& bytes, std::string* error, bool packed_skipped)
{
	MemorySource source(bytes.data(), bytes.size());
	return decodeDocument(source, error, packed_skipped);
}

Document* Host::decodeDocument(ByteSource& bytes, std::string* error, bool packed_skipped)
{
	FileJob* job = fileJob_;
	auto fail = [&](const std::string& why) -> Document* {
		if (error)
			*error = job && job->cancelled() ? "cancelled" : why;
		return nullptr;
	};
	char magic[8];
	if (bytes.size() < sizeof magic || !bytes.readAt(0, magic, sizeof magic))
		return fail("not a scene file");
	const bool checked = std::memcmp(magic, kMagic2, 8) == 0;
	if (!checked && std::memcmp(magic, kMagic1, 8) != 0)
		return fail("not a scene file");

	std::vector<Entry> entries;
	uint32_t count = 0;
	Reader r1(bytes, 8, bytes.size());
	if (checked)
	{
		const std::string why = readHeader2(bytes, &entries);
		if (!why.empty())
			return fail(why);
		count = static_cast<uint32_t>(entries.size());
	}
	else
	{
		uint32_t version;
		if (!r1.pod(&version) || version != kVersion1)
			return fail("unsupported scene file version");
		if (!r1.count(&count, kLeastRecord))
			return fail("damaged: object count beyond the end of the file");
		entries.resize(count);
	}

	auto doc = std::make_unique<Document>();
	std::vector<Object*> objects;
	for (uint32_t i = 0; i < count; ++i)
	{
		Entry& e = entries[i];
		if (job)
		{
			job->show("loading", checked ? e.record.at : r1.pos(), bytes.size());
			if (!job->go())
				return fail("cancelled");
		}
		bool has_block = false;
		std::string why;
		if (checked)
		{
			if (!partSums(bytes, e.record, job))
				return fail("damaged: " + recordName(bytes, e.record, i, count) + ": its checksum does not match");
			Reader r(bytes, e.record.at, e.record.at + e.record.size);
			why = readRecord(*this, r, static_cast<Int32>(i), doc.get(), objects, &has_block);
			if (why.empty() && !r.atEnd())
				why = "data after its record";
			if (why.empty() && !readBlock(bytes, &e, false, job))
				why = "its plug-in block's table is damaged";
		}
		else
		{
			why = readRecord(*this, r1, static_cast<Int32>(i), doc.get(), objects, &has_block);
			if (why.empty() && !r1.span(&e.block.at, &e.block.size))
				why = "truncated plug-in block";
			e.streamEnd = e.block.at + e.block.size;
		}
		if (!why.empty())
			return fail("damaged: object " + std::to_string(i + 1) + " of " + std::to_string(count) + ": " + why);
	}
	if (!checked && !r1.atEnd())
		return fail("damaged: data after the last object");

	// File indices become node ids now that every object exists.
	std::map<uint64_t, uint64_t> ids;
	for (size_t i = 0; i < objects.size(); ++i)
		ids[i + 1] = objects[i]->id();
	auto relink = [&](VtnContainer& bc) {
		for (auto& [id, v] : bc.entries)
			if (v.type == VTN_DA_LINK)
			{
				auto it = ids.find(v.link);
				v.link = it == ids.end() ? 0 : it->second;
			}
	};
	for (Object* o : objects)
	{
		relink(o->container());
		for (auto& t : o->tags)
			relink(t->container());
		std::map<uint64_t, std::vector<float>> restrictions;
		for (auto& [target, weights] : o->restrictions)
			if (ids.count(target))
				restrictions[ids[target]] = std::move(weights);
		o->restrictions = std::move(restrictions);
	}

	Document* raw = doc.get();
	raw->packedSkipped = packed_skipped;
	documents_.push_back(std::move(doc));
	// Plug-in blocks last, so their links find every object of the file.
	for (size_t i = 0; i < objects.size(); ++i)
	{
		Object* o = objects[i];
		const Entry& e = entries[i];
		if (!o->nodeData())
		{
			if (e.streamEnd != e.block.at)
				this->error(o->name + ": the plug-in of type " + std::to_string(o->type()) + " is not loaded; its data is ignored");
			continue;
		}
		// A look at a scene passes over the weights, so it does not read the whole block to check it.
		Entry sums = e;
		const bool refused = checked && !packed_skipped && !readBlock(bytes, &sums, true, job);
		if (job && job->cancelled())
			break;
		// A refused block is handed over as an empty one: the plug-in then
		// keeps nothing and says so in its parameters, as after any failed read.
		HyperStream hs(&bytes, e.block.at, refused ? e.block.at : e.streamEnd);
		hs.links = ids;
		hs.document = raw->asDocument();
		hs.packedSkipped = packed_skipped;
		o->callRead(hs.asHyperFile(), 0);
		if (job && job->cancelled())
			break;
		if (refused)
			this->error(o->name + ": its plug-in data is damaged (its checksum does not match); it was not read");
		else if (hs.failed() || hs.remaining() != 0)
			this->error(o->name + ": its plug-in data is damaged; what could be read was kept");
	}
	if (job && job->cancelled())
	{
		destroyDocument(raw);
		return fail("cancelled");
	}
	if (job)
		job->show("loading", bytes.size(), bytes.size());
	return raw;
}

FileStatus Host::saveDocument(Document* doc, const std::string& path, std::string* error, Thread* thread)
{
	std::string why;
	if (doc->packedSkipped)
	{
		if (error)
			*error = path + ": not saved: the scene was loaded without its weights";
		return FileStatus::failed;
	}
	FileJob job(*this, thread);
	platform::OutFile file;
	if (job.go() && file.open(path, &why))
	{
		FileSink sink(file);
		encodeDocument(doc, sink);
		// A cancelled save leaves the temporary file to the writer, which removes it.
		if (!job.cancelled() && sink.flush() && file.commit(&why))
			return FileStatus::done;
		if (why.empty())
			why = sink.problem();
	}
	if (job.cancelled())
	{
		if (error)
			*error = path + ": not saved: cancelled";
		return FileStatus::cancelled;
	}
	if (error)
		*error = path + ": cannot write the scene file: " + why;
	return FileStatus::failed;
}

Document* Host::loadDocument(const std::string& path, std::string* error, bool packed_skipped, Thread* thread, FileStatus* status)
{
	std::string why;
	FileJob job(*this, thread);
	auto result = [&](Document* doc) {
		if (status)
			*status = doc ? FileStatus::done : job.cancelled() ? FileStatus::cancelled : FileStatus::failed;
		return doc;
	};
	platform::InFile file;
	if (!file.open(path, &why))
	{
		if (error)
			*error = path + ": cannot open the scene file: " + why;
		return result(nullptr);
	}
	FileSource source(file);
	Document* doc = decodeDocument(source, &why, packed_skipped);
	if (!doc && error)
		*error = path + ": " + (source.problem().empty() || job.cancelled() ? why : "cannot read the scene file: " + source.problem());
	return result(doc);
}

}  // namespace vtnhost
