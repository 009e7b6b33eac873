// The host's scene files. Little-endian binary:
//   "VTNSCENE", u32 version (1), u32 object count, then the objects in tree
//   order (a parent always before its children). Every count is checked
//   against the bytes that are left before anything is allocated for it.
#include <cstring>

#include "vtnhost/host.h"
#include "vtnhost/hyperfile.h"
#include "vtnhost/platform.h"

namespace vtnhost {
namespace {

constexpr char kMagic[8] = {'V', 'T', 'N', 'S', 'C', 'E', 'N', 'E'};
constexpr uint32_t kVersion = 1;

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

// Reads the file in order from a source; the plug-in blocks are only passed
// over here and read from their place once every object exists.
class Reader
{
public:
	explicit Reader(ByteSource& in) : in_(in) {}
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
	bool atEnd() const { return pos_ == in_.size(); }

private:
	uint64_t left() const { return in_.size() - pos_; }
	ByteSource& in_;
	uint64_t pos_ = 0;
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

void writeObject(Host& host, Writer& w, Object* o, Int32 parent, const std::map<uint64_t, uint64_t>& index, Document* doc)
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
	// The plug-in's own block, through a stream of typed values straight into
	// the file; its length goes in front once it is known.
	w.pod(static_cast<uint8_t>(o->nodeData() ? 1 : 0));
	const uint64_t at = w.sink.size();
	w.pod(uint64_t{0});
	HyperStream hs(&w.sink);
	hs.links = index;
	hs.document = doc->asDocument();
	const bool written = o->nodeData() ? o->callWrite(hs.asHyperFile()) && !hs.failed() : true;
	if (!written)
		host.error(o->name + ": its plug-in could not write its data");
	const uint64_t length = w.sink.size() - at - sizeof length;
	w.sink.patch(at, &length, sizeof length);
}

}  // namespace

void Host::encodeDocument(Document* doc, ByteSink& sink)
{
	const std::vector<Object*> objects = doc->objects();
	std::map<uint64_t, uint64_t> index;
	for (size_t i = 0; i < objects.size(); ++i)
		index[objects[i]->id()] = i + 1;
	Writer w(sink);
	sink.write(kMagic, 8);
	w.pod(kVersion);
	w.pod(static_cast<uint32_t>(objects.size()));
	for (Object* o : objects)
	{
		const Int32 parent = o->parent() ? static_cast<Int32>(index[o->parent()->id()] - 1) : -1;
		writeObject(*this, w, o, parent, index, doc);
	}
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
	auto fail = [&](const std::string& why) -> Document* {
		if (error)
			*error = why;
		return nullptr;
	};
	Reader r(bytes);
	char magic[8];
	uint32_t version, count;
	if (!r.pod(&magic) || std::memcmp(magic, kMagic, 8) != 0)
		return fail("not a scene file");
	if (!r.pod(&version) || version != kVersion)
		return fail("unsupported scene file version");
	if (!r.count(&count, 64))
		return fail("damaged: object count beyond the end of the file");

	auto doc = std::make_unique<Document>();
	std::vector<Object*> objects;
	std::vector<std::pair<uint64_t, uint64_t>> blocks;  // where each plug-in block is in the file, and its length
	for (uint32_t i = 0; i < count; ++i)
	{
		const std::string where = "damaged: object " + std::to_string(i + 1) + " of " + std::to_string(count);
		Int32 parent, type, editor, render;
		std::string name;
		LMatrix matrix;
		uint8_t deform, use_color, xray;
		LVector color;
		if (!r.pod(&parent) || !r.pod(&type) || !r.text(&name) || !r.pod(&matrix) || !r.pod(&editor) || !r.pod(&render) ||
		    !r.pod(&deform) || !r.pod(&use_color) || !r.pod(&xray) || !r.pod(&color))
			return fail(where + ": truncated header");
		if (parent < -1 || parent >= static_cast<Int32>(i))
			return fail(where + ": its parent is not an earlier object");
		std::unique_ptr<Object> op = newStandIn(type, name);
		if (!op)
			return fail(where + ": an object of type " + std::to_string(type) + " cannot be made");
		op->name = name;
		op->matrix = matrix;
		op->editorMode = editor;
		op->renderMode = render;
		op->deformMode = deform != 0;
		op->colors = {color, use_color != 0, xray != 0};
		uint32_t ngons, tags, restrictions;
		if (!r.array(&op->points) || !r.array(&op->polygons) || !r.count(&ngons, 8))
			return fail(where + ": truncated geometry");
		for (uint32_t k = 0; k < ngons; ++k)
		{
			Object::Ngon g;
			if (!r.array(&g.outline) || !r.array(&g.parts))
				return fail(where + ": truncated n-gon");
			op->ngons.push_back(std::move(g));
		}
		op->container().entries.clear();
		if (!readContainer(r, &op->container()) || !r.count(&tags, 16))
			return fail(where + ": damaged parameters");
		for (uint32_t k = 0; k < tags; ++k)
		{
			Int32 tag_type;
			std::string tag_name;
			std::vector<Int32> selected;
			if (!r.pod(&tag_type) || !r.text(&tag_name))
				return fail(where + ": damaged tag");
			auto tag = std::make_unique<Tag>(nextNodeId(), tag_type, nullptr);
			tag->name = tag_name;
			if (!readContainer(r, &tag->container()) || !r.array(&selected))
				return fail(where + ": damaged tag");
			tag->select.indices.insert(selected.begin(), selected.end());
			op->insertTag(std::move(tag), op->tags.empty() ? nullptr : op->tags.back().get());
		}
		if (!r.count(&restrictions, 12))
			return fail(where + ": damaged restrictions");
		for (uint32_t k = 0; k < restrictions; ++k)
		{
			uint64_t target;
			std::vector<float> weights;
			if (!r.pod(&target) || !r.array(&weights))
				return fail(where + ": damaged restrictions");
			op->restrictions[target] = std::move(weights);
		}
		uint8_t has_block;
		uint64_t block_at = 0, block_size = 0;
		if (!r.pod(&has_block) || !r.span(&block_at, &block_size))
			return fail(where + ": truncated plug-in block");
		Object* raw = op.get();
		Object* parent_op = parent >= 0 ? objects[static_cast<size_t>(parent)] : nullptr;
		const auto& siblings = parent_op ? parent_op->children() : doc->roots();
		doc->insert(std::move(op), parent_op, siblings.empty() ? nullptr : siblings.back().get());
		objects.push_back(raw);
		blocks.emplace_back(block_at, block_size);
	}
	if (!r.atEnd())
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
		if (!o->nodeData())
		{
			if (blocks[i].second != 0)
				this->error(o->name + ": the plug-in of type " + std::to_string(o->type()) + " is not loaded; its data is ignored");
			continue;
		}
		HyperStream hs(&bytes, blocks[i].first, blocks[i].first + blocks[i].second);
		hs.links = ids;
		hs.document = raw->asDocument();
		hs.packedSkipped = packed_skipped;
		o->callRead(hs.asHyperFile(), 0);
		if (hs.failed() || hs.remaining() != 0)
			this->error(o->name + ": its plug-in data is damaged; what could be read was kept");
	}
	return raw;
}

bool Host::saveDocument(Document* doc, const std::string& path, std::string* error)
{
	std::string why;
	if (doc->packedSkipped)
	{
		if (error)
			*error = path + ": not saved: the scene was loaded without its weights";
		return false;
	}
	platform::OutFile file;
	if (file.open(path, &why))
	{
		FileSink sink(file);
		encodeDocument(doc, sink);
		if (sink.flush() && file.commit(&why))
			return true;
		if (why.empty())
			why = sink.problem();
	}
	if (error)
		*error = path + ": cannot write the scene file: " + why;
	return false;
}

Document* Host::loadDocument(const std::string& path, std::string* error, bool packed_skipped)
{
	std::string why;
	platform::InFile file;
	if (!file.open(path, &why))
	{
		if (error)
			*error = path + ": cannot open the scene file: " + why;
		return nullptr;
	}
	FileSource source(file);
	Document* doc = decodeDocument(source, &why, packed_skipped);
	if (!doc && error)
		*error = path + ": " + (source.problem().empty() ? why : "cannot read the scene file: " + source.problem());
	return doc;
}

}  // namespace vtnhost
