// The deformer's block of the scene file and its copy: what is written, what
// comes back, and what a damaged stream leaves.
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <memory>

#include "vtnhost/actions.h"
#include "support/deformer_scene.h"
#include "vtnhost/hyperfile.h"
#include "vtnhost/packing.h"

using vtnhost::HyperStream;
using vtnhost::Object;

namespace {

const testmesh::Mesh kCage = testmesh::icosphere({0, 0, 0}, 1.5, 1);

class Stream : public DeformerScene
{
protected:
	// A deformer under a mesh, bound to the cage.
	void bindMesh(const testmesh::Mesh& shape)
	{
		mesh = testscene::addMesh(host, doc, "Mesh", shape);
		std::unique_ptr<Object> d = doc->remove(deformer);
		doc->insert(std::move(d), mesh, nullptr);
		addLinked(MORVEX_CAGE, kCage, "Cage");
		ASSERT_TRUE(vtnhost::pressButton(deformer, MORVEX_BIND));
		host.evaluate(doc);
		ASSERT_EQ(internals(m).bindings.GetCount(), 1);
	}
	HyperStream written(Morvex* which, Object* node)
	{
		HyperStream hs;
		EXPECT_TRUE(which->Write(node->asListNode(), hs.asHyperFile()));
		return hs;
	}
	// A second deformer in the same document that reads the stream.
	Morvex* readInto(const std::vector<uint8_t>& bytes, Object** node_out = nullptr)
	{
		Object* node = testscene::addObject(host, doc, ID_MORVEXER, "Copy");
		HyperStream hs(bytes);
		hs.links = {};
		for (Object* o : doc->objects())
			hs.links[o->id()] = o->id();  // in memory, ids stand for themselves
		auto* other = static_cast<Morvex*>(node->nodeData());
		EXPECT_TRUE(other->Read(node->asListNode(), hs.asHyperFile(), 0));
		lastFailed = hs.failed();
		if (node_out)
			*node_out = node;
		return other;
	}
	// Id-for-id link translation while writing.
	static void identityLinks(HyperStream& hs, vtnhost::Document* d)
	{
		for (Object* o : d->objects())
			hs.links[o->id()] = o->id();
	}

	Object* mesh = nullptr;
	bool lastFailed = false;
};

std::vector<uint8_t> compressed(const std::vector<float>& floats)
{
	void* out = nullptr;
	Int64 size = 0;
	EXPECT_TRUE(CompressData(floats.data(), static_cast<Int64>(floats.size() * 4), out, size, 5));
	std::vector<uint8_t> bytes(static_cast<const uint8_t*>(out), static_cast<const uint8_t*>(out) + size);
	_GeFree(&out);
	return bytes;
}

}  // namespace

TEST_F(Stream, ANewDeformerWritesTheShortestStream)
{
	HyperStream hs = written(m, deformer);
	HyperStream in(hs.data());
	Int32 v;
	for (Int32 want : {2, 0, 0, 0, 0})
	{
		ASSERT_TRUE(in.readLong(&v));
		EXPECT_EQ(v, want);
	}
	LMatrix mat;
	ASSERT_TRUE(in.readMatrix(&mat));
	EXPECT_EQ(mat.v1.x, 1);
	EXPECT_EQ(mat.v2.y, 1);
	EXPECT_EQ(mat.off.x, 0);
	EXPECT_EQ(in.remaining(), 0u);
}

TEST_F(Stream, WriteThenReadGivesTheBindingBack)
{
	bindMesh(testmesh::icosphere({0, 0, 0}, 1.0, 2));
	internals(m).restMatrix.off = {4, 5, 6};
	HyperStream hs;
	identityLinks(hs, doc);
	m->Write(deformer->asListNode(), hs.asHyperFile());
	Object* node = nullptr;
	Morvex* other = readInto(hs.data(), &node);
	EXPECT_FALSE(lastFailed);
	ASSERT_EQ(internals(other).bindings.GetCount(), 1);
	const Cobjbuff* a = internals(m).bindings[0];
	const Cobjbuff* b = internals(other).bindings[0];
	EXPECT_EQ(b->link->GetLink(nullptr), mesh->asObject());
	ASSERT_EQ(b->pointCount, a->pointCount);
	ASSERT_EQ(b->faceCount, a->faceCount);
	ASSERT_EQ(b->cagePointCount, a->cagePointCount);
	EXPECT_EQ(std::memcmp(a->FI[0], b->FI[0], size_t(a->pointCount) * size_t(a->cagePointCount) * 4), 0);
	EXPECT_EQ(std::memcmp(a->PSI[0], b->PSI[0], size_t(a->pointCount) * size_t(a->faceCount) * 4), 0);
	ASSERT_EQ(internals(other).restAreas.GetCount(), internals(m).restAreas.GetCount());
	for (Int64 j = 0; j < internals(m).restAreas.GetCount(); ++j)
		EXPECT_EQ(internals(other).restAreas[j], internals(m).restAreas[j]);
	ASSERT_EQ(internals(other).restPoints.GetCount(), internals(m).restPoints.GetCount());
	EXPECT_EQ(internals(other).restPoints[7].y, internals(m).restPoints[7].y);
	EXPECT_EQ(internals(other).restMatrix.off.z, 6);
	EXPECT_EQ(internals(other).bindArmed, 0) << "a loaded deformer binds nothing new until the next bind";
	EXPECT_EQ(internals(other).memoryUsed, internals(m).memoryUsed);
	EXPECT_EQ(node->container().find(MORVEX_MEMORY)->s, deformer->container().find(MORVEX_MEMORY)->s);
}

TEST_F(Stream, TwoBindingsShareOneBlockInListOrder)
{
	for (int k = 0; k < 2; ++k)
	{
		Cobjbuff* r = NewObj(Cobjbuff);
		r->link = BaseLink::Alloc();
		r->pointCount = 2;
		r->cagePointCount = 3;
		r->faceCount = 1;
		ASSERT_TRUE(r->FI.Allocate(2, 3));
		ASSERT_TRUE(r->PSI.Allocate(2, 1));
		for (int i = 0; i < 6; ++i)
			r->FI[0][i] = float(100 * (k + 1) + i);
		r->PSI[0][0] = float(-(k + 1));
		r->PSI[1][0] = float(-(k + 1) * 10);
		ASSERT_TRUE(internals(m).bindings.Append(r));
	}
	HyperStream hs = written(m, deformer);
	HyperStream in(hs.data());
	Int32 v;
	uint64_t link;
	ASSERT_TRUE(in.readLong(&v) && in.readLong(&v));
	for (int k = 0; k < 2; ++k)
		for (int field = 0; field < 6; ++field)
			ASSERT_TRUE(field == 4 ? in.readLink(&link) : in.readLong(&v));
	ASSERT_TRUE(in.readLong(&v));
	ASSERT_EQ(v, 1);
	std::vector<uint8_t> block;
	ASSERT_TRUE(in.readMemory(&block));
	void* plain = nullptr;
	Int64 size = 0;
	ASSERT_TRUE(UncompressData(block.data(), Int64(block.size()), plain, size));
	ASSERT_EQ(size, 4 * (2 + 6 + 2 + 6));
	const auto* f = static_cast<const float*>(plain);
	const float want[] = {-1, -10, 100, 101, 102, 103, 104, 105, -2, -20, 200, 201, 202, 203, 204, 205};
	for (int i = 0; i < 16; ++i)
		EXPECT_EQ(f[i], want[i]) << i;
	_GeFree(&plain);
}

TEST_F(Stream, OlderStreamsReadAsTheyWereWritten)
{
	// Version 1: no rest matrix at the end, and records without a selection flag.
	HyperStream hs;
	hs.writeLong(1);
	hs.writeLong(2);
	for (int k = 0; k < 2; ++k)
	{
		hs.writeLong(1);
		hs.writeLong(1);
		hs.writeLong(1);
		hs.writeLong(1);
		hs.writeLink(0);
	}
	hs.writeLong(1);
	const std::vector<uint8_t> block = compressed({1, 2, 3, 4});
	hs.writeMemory(block.data(), Int64(block.size()));
	hs.writeLong(1);
	hs.writeVector({1, 2, 3});
	hs.writeLong(0);
	Object* node = nullptr;
	Morvex* other = readInto(hs.data(), &node);
	EXPECT_FALSE(lastFailed);
	ASSERT_EQ(internals(other).bindings.GetCount(), 2);
	EXPECT_EQ(internals(other).bindings[1]->PSI[0][0], 3.0f);
	EXPECT_EQ(internals(other).bindings[1]->FI[0][0], 4.0f);
	EXPECT_EQ(internals(other).restPoints.GetCount(), 1);
	EXPECT_EQ(internals(other).restMatrix.off.x, 0);
	EXPECT_EQ(internals(other).restMatrix.v3.z, 1) << "the rest matrix is left as it was";
}

TEST_F(Stream, AStreamOfANewerVersionIsNotRead)
{
	// Laid out as version 2, but announced as 3: nothing of it is taken.
	bindMesh(testmesh::icosphere({0, 0, 0}, 1.0, 1));
	HyperStream hs;
	identityLinks(hs, doc);
	m->Write(deformer->asListNode(), hs.asHyperFile());
	std::vector<uint8_t> bytes = hs.data();
	ASSERT_EQ(bytes[1], 2);
	bytes[1] = 3;
	Object* node = nullptr;
	Morvex* other = readInto(bytes, &node);
	EXPECT_EQ(internals(other).bindings.GetCount(), 0);
	EXPECT_EQ(internals(other).restPoints.GetCount(), 0);
	EXPECT_EQ(internals(other).restMatrix.off.x, 0);
	EXPECT_EQ(node->container().find(MORVEX_MEMORY)->s, "0 B");
	MorvexSummary s{};
	s.version = MORVEX_SUMMARY_VERSION;
	EXPECT_TRUE(node->callMessage(MSG_MORVEX_SUMMARY, &s));
	EXPECT_EQ(s.filled, 1);
	EXPECT_EQ(s.streamVersion, 3);
	EXPECT_EQ(s.streamKnown, 0);
	EXPECT_EQ(s.bindingCount, 0);

	// The versions it knows are read as before, and say so.
	bytes[1] = 2;
	readInto(bytes, &node);
	MorvexSummary known{};
	known.version = MORVEX_SUMMARY_VERSION;
	node->callMessage(MSG_MORVEX_SUMMARY, &known);
	EXPECT_EQ(known.streamVersion, 2);
	EXPECT_EQ(known.streamKnown, 1);
	EXPECT_EQ(known.bindingCount, 1);
}

TEST_F(Stream, WeightsThatDoNotComeBackLeaveNoBinding)
{
	bindMesh(testmesh::icosphere({0, 0, 0}, 1.0, 1));
	// The host's compression fails: the headers and rest pose are written, the weights are not.
	HyperStream hs;
	{
		OneBlockCompression older(host);
		host.memory().failAfter(1);
		identityLinks(hs, doc);
		m->Write(deformer->asListNode(), hs.asHyperFile());
		host.memory().failAfter(-1);
	}
	Morvex* other = readInto(hs.data());
	EXPECT_EQ(internals(other).bindings.GetCount(), 0);
	EXPECT_EQ(internals(other).restPoints.GetCount(), internals(m).restPoints.GetCount()) << "the rest of the stream is still read";

	// A block that is not the host's compression, and one shorter than the headers promise.
	for (const std::vector<uint8_t>& bad : {std::vector<uint8_t>{1, 2, 3, 4, 5, 6, 7, 8, 9}, compressed({1, 2, 3})})
	{
		HyperStream s;
		s.writeLong(2);
		s.writeLong(1);
		for (Int32 x : {2, 1, 1, 1})
			s.writeLong(x);
		s.writeLink(0);
		s.writeLong(0);
		s.writeLong(1);
		s.writeMemory(bad.data(), Int64(bad.size()));
		s.writeLong(0);
		s.writeLong(0);
		s.writeMatrix({{7, 7, 7}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}});
		Morvex* r = readInto(s.data());
		EXPECT_EQ(internals(r).bindings.GetCount(), 0);
		EXPECT_EQ(internals(r).restMatrix.off.x, 7) << "the stream goes on after a bad block";
	}
}

TEST_F(Stream, DamagedStreamsStopWithoutHarm)
{
	// A failed block read stops at once and leaves the rest pose alone.
	HyperStream cut;
	for (Int32 x : {2, 1, 2, 1, 1, 1})
		cut.writeLong(x);
	cut.writeLink(0);
	cut.writeLong(0);
	cut.writeLong(1);
	Morvex* a = readInto(cut.data());
	EXPECT_TRUE(lastFailed);
	EXPECT_EQ(internals(a).bindings.GetCount(), 0);

	// Counts that no file could back: nothing is allocated for them.
	const size_t before = host.memory().liveBlocks();
	host.memory().resetPeak();
	for (Int32 count : {-1, 1000000000})
	{
		HyperStream s;
		s.writeLong(2);
		s.writeLong(count);
		s.writeLong(2);
		Morvex* r = readInto(s.data());
		EXPECT_EQ(internals(r).bindings.GetCount(), 0);
	}
	HyperStream huge;
	for (Int32 x : {2, 0, 0, 2000000000})
		huge.writeLong(x);
	huge.writeVector({1, 1, 1});
	Morvex* r = readInto(huge.data());
	EXPECT_EQ(internals(r).restPoints.GetCount(), 0) << "an incomplete rest pose is dropped";
	EXPECT_LT(host.memory().peakBytes(), 1u << 20);
	EXPECT_LE(host.memory().liveBlocks(), before + 8);
}

TEST_F(Stream, ACopyCarriesBindingsAndRestPoseButNotTheMatrix)
{
	bindMesh(testmesh::icosphere({0, 0, 0}, 1.0, 1));
	internals(m).restMatrix.off = {1, 1, 1};
	std::unique_ptr<Object> copy = host.cloneObject(*deformer, 0);
	auto* c = static_cast<Morvex*>(copy->nodeData());
	ASSERT_EQ(internals(c).bindings.GetCount(), 1);
	const Cobjbuff* a = internals(m).bindings[0];
	const Cobjbuff* b = internals(c).bindings[0];
	EXPECT_EQ(b->link->GetLink(nullptr), mesh->asObject());
	EXPECT_EQ(std::memcmp(a->FI[0], b->FI[0], size_t(a->pointCount) * size_t(a->cagePointCount) * 4), 0);
	EXPECT_EQ(std::memcmp(a->PSI[0], b->PSI[0], size_t(a->pointCount) * size_t(a->faceCount) * 4), 0);
	EXPECT_EQ(internals(c).restPoints.GetCount(), internals(m).restPoints.GetCount());
	EXPECT_EQ(internals(c).restAreas.GetCount(), internals(m).restAreas.GetCount());
	EXPECT_EQ(internals(c).restMatrix.off.x, 0);
	EXPECT_EQ(internals(c).memoryUsed, 0);
	EXPECT_EQ(internals(c).bindArmed, 0);

	// Copied again onto the copy (as an undo copies onto a live node), it
	// replaces what is there rather than adding to it.
	ASSERT_TRUE(m->CopyTo(c, deformer->asListNode(), copy->asListNode(), COPYFLAGS(0), nullptr));
	EXPECT_EQ(internals(c).bindings.GetCount(), 1);
	EXPECT_EQ(internals(c).restPoints.GetCount(), internals(m).restPoints.GetCount());
	EXPECT_EQ(internals(c).restAreas.GetCount(), internals(m).restAreas.GetCount());

	// Copied together with its mesh, the binding follows the copy of the mesh.
	std::unique_ptr<Object> both = host.cloneObject(*mesh, 0);
	auto* cm = static_cast<Morvex*>(both->children().front()->nodeData());
	ASSERT_EQ(internals(cm).bindings.GetCount(), 1);
	EXPECT_EQ(internals(cm).bindings[0]->link->GetLink(nullptr), both->asObject());
}

// The link copy can fail (the host's call, swapped here for one that does):
// the copy's record then has no counts and no weights, but still the
// selection of the points it covered, which a save of the copy stores.
TEST_F(Stream, ACopyWhoseLinkCannotBeCopiedKeepsItsSelection)
{
	deformer->container().entries[MORVEX_INSIDE_ONLY] = vtnhost::Value::Bool(true);
	bindMesh(testmesh::pushedIcosphere({0, 0, 0}, 1.0, 1, 1.8, 4).mesh);
	const Cobjbuff* a = internals(m).bindings[0];
	ASSERT_NE(a->validPoints, nullptr);
	VTN_Link* links = host.table()->link;
	const auto copy_link = links->CopyTo;
	links->CopyTo = [](const BaseLink*, BaseLink*, Int32, VtnAliasTrans*) { return false; };
	std::unique_ptr<Object> copy = host.cloneObject(*deformer, 0);
	links->CopyTo = copy_link;
	ASSERT_NE(copy, nullptr);
	auto* c = static_cast<Morvex*>(copy->nodeData());
	ASSERT_EQ(internals(c).bindings.GetCount(), 1);
	const Cobjbuff* b = internals(c).bindings[0];
	EXPECT_EQ(b->pointCount + b->cagePointCount + b->faceCount, 0);
	EXPECT_FALSE(b->FI);
	ASSERT_NE(b->validPoints, nullptr) << "the selection is copied all the same";
	EXPECT_EQ(b->validPoints->GetCount(), a->validPoints->GetCount());
	EXPECT_NE(b->validPoints, a->validPoints);

	HyperStream saved = written(c, copy.get());
	HyperStream in(saved.data());
	Int32 v = 0;
	uint64_t link = 0;
	for (Int32 want : {2, 1, 2, 0, 0, 0})
	{
		ASSERT_TRUE(in.readLong(&v));
		EXPECT_EQ(v, want);
	}
	ASSERT_TRUE(in.readLink(&link));
	ASSERT_TRUE(in.readLong(&v));
	EXPECT_EQ(v, 1) << "the save stores the selection";
	Int32 selected = 0;
	ASSERT_TRUE(in.readLong(&selected));
	EXPECT_EQ(selected, a->validPoints->GetCount());
}

TEST_F(Stream, TheBoundPointSelectionComesBack)
{
	deformer->container().entries[MORVEX_INSIDE_ONLY] = vtnhost::Value::Bool(true);
	bindMesh(testmesh::pushedIcosphere({0, 0, 0}, 1.0, 1, 1.8, 4).mesh);
	const Cobjbuff* a = internals(m).bindings[0];
	ASSERT_NE(a->validPoints, nullptr);
	HyperStream hs;
	identityLinks(hs, doc);
	m->Write(deformer->asListNode(), hs.asHyperFile());
	Morvex* other = readInto(hs.data());
	ASSERT_EQ(internals(other).bindings.GetCount(), 1);
	const Cobjbuff* b = internals(other).bindings[0];
	ASSERT_NE(b->validPoints, nullptr);
	EXPECT_EQ(b->validPoints->GetCount(), a->validPoints->GetCount());
	for (Int32 i = 0; i < static_cast<Int32>(mesh->points.size()); ++i)
		EXPECT_EQ(b->validPoints->IsSelected(i), a->validPoints->IsSelected(i)) << i;
}

namespace {

// The block the first version of the host made of these bytes: their size, then a zlib stream.
std::vector<uint8_t> firstVersionBlock(const void* plain, size_t n)
{
	uLongf packed = compressBound(static_cast<uLong>(n));
	std::vector<uint8_t> block(8 + packed);
	const uint64_t size = n;
	std::memcpy(block.data(), &size, 8);
	EXPECT_EQ(compress2(block.data() + 8, &packed, static_cast<const Bytef*>(plain), static_cast<uLong>(n), 5), Z_OK);
	block.resize(8 + packed);
	return block;
}

}  // namespace

TEST_F(Stream, WeightsInPiecesAndInOneBlockAreTheSameBytesEitherWay)
{
	// Enough points for the weights to pass a chunk of the host's blocks, and
	// a second record, so that pieces end inside chunks.
	bindMesh(testmesh::icosphere({0, 0, 0}, 1.0, 4));
	Cobjbuff* extra = NewObj(Cobjbuff);
	extra->link = BaseLink::Alloc();
	extra->pointCount = 3;
	extra->cagePointCount = 2;
	extra->faceCount = 5;
	ASSERT_TRUE(extra->FI.Allocate(3, 2) && extra->PSI.Allocate(3, 5));
	for (int i = 0; i < 6; ++i)
		extra->FI[0][i] = float(i) * 0.25f;
	for (int i = 0; i < 15; ++i)
		extra->PSI[0][i] = -float(i);
	ASSERT_TRUE(internals(m).bindings.Append(extra));
	const Cobjbuff* first = internals(m).bindings[0];
	ASSERT_GT(StreamFloats(*first) * 4, Int64(vtnhost::packing::kChunkBytes));

	HyperStream pieces;
	identityLinks(pieces, doc);
	ASSERT_TRUE(m->Write(deformer->asListNode(), pieces.asHyperFile()));
	HyperStream whole;
	{
		OneBlockCompression older(host);
		identityLinks(whole, doc);
		ASSERT_TRUE(m->Write(deformer->asListNode(), whole.asHyperFile()));
	}
	ASSERT_TRUE(pieces.data() == whole.data()) << "sizes " << pieces.data().size() << " and " << whole.data().size();

	// The same stream with the block the first version made of the same weights.
	std::vector<float> floats;
	for (Int64 i = 0; i < internals(m).bindings.GetCount(); ++i)
	{
		const size_t at = floats.size();
		floats.resize(at + size_t(StreamFloats(*internals(m).bindings[i])));
		PutStreamBlock(*internals(m).bindings[i], floats.data() + at);
	}
	HyperStream legacy;
	{
		HyperStream in(whole.data());
		Int32 v;
		uint64_t link;
		ASSERT_TRUE(in.readLong(&v) && in.readLong(&v));
		legacy.writeLong(MORVEX_STREAM_VERSION);
		legacy.writeLong(2);
		for (int k = 0; k < 2; ++k)
			for (int field = 0; field < 6; ++field)
			{
				ASSERT_TRUE(field == 4 ? in.readLink(&link) : in.readLong(&v));
				field == 4 ? legacy.writeLink(link) : legacy.writeLong(v);
			}
		std::vector<uint8_t> block;
		ASSERT_TRUE(in.readLong(&v) && in.readMemory(&block));
		const std::vector<uint8_t> old = firstVersionBlock(floats.data(), floats.size() * 4);
		legacy.writeLong(1);
		legacy.writeMemory(old.data(), Int64(old.size()));
		while (in.remaining() > 0)
		{
			LVector p;
			double a;
			LMatrix mat;
			if (in.readLong(&v))
				legacy.writeLong(v);
			else
				break;
			for (Int32 k = 0; k < v && in.readVector(&p); ++k)
				legacy.writeVector(p);
			ASSERT_TRUE(in.readLong(&v));
			legacy.writeLong(v);
			for (Int32 k = 0; k < v && in.readReal(&a); ++k)
				legacy.writeReal(a);
			ASSERT_TRUE(in.readMatrix(&mat));
			legacy.writeMatrix(mat);
		}
		ASSERT_FALSE(in.failed());
	}

	// Every stream comes back whole through either reader.
	for (const std::vector<uint8_t>* stream : {&whole.data(), &legacy.data()})
		for (bool older : {false, true})
		{
			std::unique_ptr<OneBlockCompression> one_block = older ? std::make_unique<OneBlockCompression>(host) : nullptr;
			Morvex* other = readInto(*stream);
			EXPECT_FALSE(lastFailed);
			ASSERT_EQ(internals(other).bindings.GetCount(), 2) << (older ? "one block" : "in pieces");
			for (Int64 i = 0; i < 2; ++i)
			{
				const Cobjbuff* a = internals(m).bindings[i];
				const Cobjbuff* b = internals(other).bindings[i];
				ASSERT_TRUE(HasTables(*b));
				EXPECT_EQ(std::memcmp(a->FI.Data(), b->FI.Data(), size_t(a->FI.Count()) * 4), 0);
				EXPECT_EQ(std::memcmp(a->PSI.Data(), b->PSI.Data(), size_t(a->PSI.Count()) * 4), 0);
			}
			EXPECT_EQ(internals(other).restMatrix.off.x, internals(m).restMatrix.off.x);
		}
}

TEST_F(Stream, AReadThatPassesOverTheWeightsKeepsTheCountsAlone)
{
	bindMesh(testmesh::icosphere({0, 0, 0}, 1.0, 3));
	const Int64 weight_bytes = StreamFloats(*internals(m).bindings[0]) * 4;
	HyperStream hs;
	identityLinks(hs, doc);
	ASSERT_TRUE(m->Write(deformer->asListNode(), hs.asHyperFile()));

	Object* node = testscene::addObject(host, doc, ID_MORVEXER, "Look");
	HyperStream in(hs.data());
	for (Object* o : doc->objects())
		in.links[o->id()] = o->id();
	in.packedSkipped = true;
	auto* look = static_cast<Morvex*>(node->nodeData());
	host.memory().resetPeak();
	const size_t before = host.memory().liveBytes();
	ASSERT_TRUE(look->Read(node->asListNode(), in.asHyperFile(), 0));
	EXPECT_LT(host.memory().peakBytes() - before, size_t(weight_bytes / 8)) << "no weight is read";
	EXPECT_FALSE(in.failed());
	EXPECT_EQ(in.remaining(), 0u) << "the stream goes on behind the weights";
	ASSERT_EQ(internals(look).bindings.GetCount(), 1);
	const Cobjbuff* r = internals(look).bindings[0];
	EXPECT_FALSE(HasTables(*r));
	EXPECT_EQ(r->pointCount, internals(m).bindings[0]->pointCount);
	EXPECT_EQ(internals(look).memoryUsed, internals(m).memoryUsed) << "the size comes from the counts";
	EXPECT_EQ(internals(look).restPoints.GetCount(), internals(m).restPoints.GetCount());

	// Counts that do not match the value's size: nothing is kept of them.
	std::vector<uint8_t> bytes = hs.data();
	const std::vector<uint8_t> points = {1, 2, 0, 0, 0, 1};  // record version 2, then the point count
	auto at = std::search(bytes.begin(), bytes.end(), points.begin(), points.end());
	ASSERT_NE(at, bytes.end());
	at[5] ^= 1;
	HyperStream bad(bytes);
	bad.packedSkipped = true;
	ASSERT_TRUE(look->Read(node->asListNode(), bad.asHyperFile(), 0));
	EXPECT_EQ(internals(look).bindings.GetCount(), 0);
}
