// Binding and deformation through the host's evaluation: the properties every
// correct Green-coordinate deformer has, and the deformer's rules for bindings
// that no longer fit.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <limits>
#include <mutex>

#include "vtnhost/actions.h"
#include "support/deformer_scene.h"
#include "vtnhost/matrix.h"

using testmesh::Mesh;
using vtnhost::Object;

namespace {

class Deformation : public DeformerScene
{
protected:
	// A mesh with the deformer under it, a cage of the given shape at the top level.
	void build(const Mesh& mesh_shape, const Mesh& cage_shape)
	{
		mesh = testscene::addMesh(host, doc, "Mesh", mesh_shape);
		std::unique_ptr<Object> d = doc->remove(deformer);
		doc->insert(std::move(d), mesh, nullptr);
		cage = addLinked(MORVEX_CAGE, cage_shape, "Cage");
	}
	void bindAndEvaluate()
	{
		ASSERT_TRUE(vtnhost::pressButton(deformer, MORVEX_BIND));
		host.evaluate(doc);
	}
	const std::vector<LVector>& deformed(const Object* op) const { return op->deformCache->points; }
	// The largest distance between the deformed points and the expected ones.
	double maxError(const Object* op, const std::vector<LVector>& expected) const
	{
		double e = 0;
		for (size_t i = 0; i < expected.size(); ++i)
			e = std::max(e, testmesh::distance(deformed(op)[i], expected[i]));
		return e;
	}
	std::string memoryText() const { return deformer->container().find(MORVEX_MEMORY)->s; }
	void setReal(Int32 id, double v) { deformer->container().entries[id] = vtnhost::Value::Real(v); }

	Object* mesh = nullptr;
	Object* cage = nullptr;
};

// A cage of 320 triangles around a mesh of 162 points.
const Mesh kCage = testmesh::icosphere({0, 0, 0}, 1.5, 2);
const Mesh kMesh = testmesh::icosphere({0.1, -0.2, 0.05}, 1.0, 2);

// A break that arrives just as the host's workers take up a pass: the host's
// pool slots are wrapped while it lives. Starting a run requests the break on
// `thread`; every chunk a worker takes waits until the run is stopped (or two
// seconds went by), and the stop waits until a worker has taken a chunk. So
// when the run stops, the workers hold a chunk each at the most, and what
// they do after it is up to the deformer.
class BreakAsWorkersStart
{
public:
	BreakAsWorkersStart(vtnhost::Host& host, vtnhost::Thread& thread) : table_(host.table()->thread)
	{
		self_ = this;
		thread_ = &thread;
		start_ = table_->PoolStart;
		stop_ = table_->PoolStop;
		table_->PoolStart = Start;
		table_->PoolStop = Stop;
	}
	~BreakAsWorkersStart()
	{
		table_->PoolStart = start_;
		table_->PoolStop = stop_;
		self_ = nullptr;
	}
	BreakAsWorkersStart(const BreakAsWorkersStart&) = delete;
	BreakAsWorkersStart& operator=(const BreakAsWorkersStart&) = delete;

	bool stopped() const { return stopped_; }

private:
	static VtnPool* Start(void (*job)(void*, Int64), void* context, Int64 count)
	{
		self_->job_ = job;
		self_->context_ = context;
		VtnPool* pool = self_->start_(Gated, self_, count);
		if (pool)
			self_->thread_->requestBreak();
		return pool;
	}
	static void Gated(void* self, Int64 chunk)
	{
		auto* me = static_cast<BreakAsWorkersStart*>(self);
		{
			std::unique_lock<std::mutex> lock(me->mutex_);
			++me->taken_;
			me->changed_.notify_all();
			me->changed_.wait_for(lock, std::chrono::seconds(2), [me] { return me->open_; });
			me->open_ = true;
		}
		me->job_(me->context_, chunk);
	}
	static void Stop(VtnPool* pool)
	{
		{
			std::unique_lock<std::mutex> lock(self_->mutex_);
			self_->changed_.wait_for(lock, std::chrono::seconds(2), [] { return self_->taken_ > 0; });
		}
		self_->stop_(pool);
		self_->stopped_ = true;
		std::lock_guard<std::mutex> lock(self_->mutex_);
		self_->open_ = true;
		self_->changed_.notify_all();
	}

	static inline BreakAsWorkersStart* self_ = nullptr;
	VTN_Thread* table_;
	vtnhost::Thread* thread_ = nullptr;
	VtnPool* (*start_)(void (*)(void*, Int64), void*, Int64) = nullptr;
	void (*stop_)(VtnPool*) = nullptr;
	void (*job_)(void*, Int64) = nullptr;
	void* context_ = nullptr;
	std::mutex mutex_;
	std::condition_variable changed_;
	int taken_ = 0;
	bool open_ = false;
	std::atomic<bool> stopped_{false};
};

// The host's memory refuses every request while one chunk of a pool run
// is under way, and only then: the host's pool slot is wrapped while this
// lives, and the chunks run one at a time so that no other chunk's requests
// meet the refusal.
class RefuseMemoryInChunk
{
public:
	RefuseMemoryInChunk(vtnhost::Host& host, Int64 chunk) : table_(host.table()->thread), memory_(host.memory()), chunk_(chunk)
	{
		self_ = this;
		start_ = table_->PoolStart;
		table_->PoolStart = Start;
	}
	~RefuseMemoryInChunk()
	{
		table_->PoolStart = start_;
		self_ = nullptr;
	}
	RefuseMemoryInChunk(const RefuseMemoryInChunk&) = delete;
	RefuseMemoryInChunk& operator=(const RefuseMemoryInChunk&) = delete;

	bool refused() const { return refused_; }

private:
	static VtnPool* Start(void (*job)(void*, Int64), void* context, Int64 count)
	{
		self_->job_ = job;
		self_->context_ = context;
		return self_->start_(Serial, self_, count);
	}
	static void Serial(void* self, Int64 chunk)
	{
		auto* me = static_cast<RefuseMemoryInChunk*>(self);
		std::lock_guard<std::mutex> lock(me->mutex_);
		if (chunk != me->chunk_)
		{
			me->job_(me->context_, chunk);
			return;
		}
		me->memory_.failAfter(0);
		me->job_(me->context_, chunk);
		me->memory_.failAfter(-1);
		me->refused_ = true;
	}

	static inline RefuseMemoryInChunk* self_ = nullptr;
	VTN_Thread* table_;
	vtnhost::Memory& memory_;
	Int64 chunk_;
	VtnPool* (*start_)(void (*)(void*, Int64), void*, Int64) = nullptr;
	void (*job_)(void*, Int64) = nullptr;
	void* context_ = nullptr;
	std::mutex mutex_;
	std::atomic<bool> refused_{false};
};

// The points up to which `got` is `full`, bit for bit; from there on `got`
// must be `incoming`, bit for bit, or -1 is returned.
long deformedPrefix(const std::vector<LVector>& got, const std::vector<LVector>& full, const std::vector<LVector>& incoming)
{
	size_t k = 0;
	while (k < got.size() && std::memcmp(&got[k], &full[k], sizeof(LVector)) == 0)
		++k;
	if (k < got.size() && std::memcmp(got.data() + k, incoming.data() + k, (got.size() - k) * sizeof(LVector)) != 0)
		return -1;
	return static_cast<long>(k);
}

std::vector<LVector> mapped(const std::vector<LVector>& pts, const LMatrix& m)
{
	std::vector<LVector> out;
	for (const LVector& p : pts)
		out.push_back(testmesh::apply(m, p));
	return out;
}

}  // namespace

TEST_F(Deformation, AnUnchangedCageReproducesTheMesh)
{
	build(kMesh, kCage);
	const size_t pointer_changes = unitRecorder().mouseHistory.size();
	bindAndEvaluate();
	ASSERT_EQ(internals(m).bindings.GetCount(), 1);
	const Cobjbuff* rec = internals(m).bindings[0];
	EXPECT_EQ(rec->pointCount, static_cast<Int32>(kMesh.points.size()));
	EXPECT_EQ(rec->faceCount, 320);
	EXPECT_EQ(rec->cagePointCount, 162);
	EXPECT_EQ(internals(m).memoryUsed, 4LL * (320 + 162) * rec->pointCount);
	EXPECT_EQ(rec->pointCount, 162);
	EXPECT_EQ(memoryText(), "305.02 KB");
	EXPECT_LT(maxError(mesh, kMesh.points), 1e-5 * 2 * std::sqrt(3.0));
	EXPECT_EQ(mesh->points[5].x, kMesh.points[5].x) << "the object's own points stay the user's";

	for (Int32 r = 0; r < rec->pointCount; ++r)
	{
		double phi = 0;
		for (Int32 k = 0; k < rec->cagePointCount; ++k)
			phi += rec->FI[r][k];
		ASSERT_NEAR(phi, 1.0, 2e-5) << "vertex weights of point " << r;
		for (Int32 j = 0; j < rec->faceCount; ++j)
			ASSERT_GE(rec->PSI[r][j], 0.0f);
	}
	EXPECT_EQ(host.statusText(), "") << "the status line is cleared after binding";
	ASSERT_FALSE(unitRecorder().statusHistory.empty());
	EXPECT_EQ(std::vector<int>(unitRecorder().mouseHistory.begin() + static_cast<std::ptrdiff_t>(pointer_changes), unitRecorder().mouseHistory.end()),
	          (std::vector<int>{3, 2}))
	    << "the busy pointer while binding";
}

TEST_F(Deformation, ASimilarityOfTheCageMovesTheMeshAlike)
{
	build(kMesh, kCage);
	bindAndEvaluate();
	const LMatrix sim = testmesh::product(testmesh::translation({0.3, -2, 1}),
	                                      testmesh::product(testmesh::rotation({1, 2, -1}, 0.8), testmesh::scaling(1.7)));
	cage->points = mapped(kCage.points, sim);
	host.evaluate(doc);
	EXPECT_LT(maxError(mesh, mapped(kMesh.points, sim)), 1e-5 * 2 * 1.7 * std::sqrt(3.0));
}

TEST_F(Deformation, RotatedFramesBindAndDeformLikeIdentityOnes)
{
	build(kMesh, kCage);
	const LMatrix mc = testmesh::product(testmesh::translation({4, 1, 0}), testmesh::rotation({0, 1, 1}, 1.1));
	const LMatrix mm = testmesh::product(testmesh::translation({3.5, 0.5, 0.2}), testmesh::rotation({1, 0, 1}, -0.7));
	cage->matrix = mc;
	mesh->matrix = mm;
	mesh->children().front()->matrix = testmesh::rotation({1, 1, 0}, 2.0);
	// The cage and the mesh sit where they did in the untransformed scene.
	cage->points = mapped(kCage.points, testmesh::inverse(mc));
	mesh->points = mapped(kCage.points.empty() ? kMesh.points : kMesh.points, testmesh::inverse(mm));
	bindAndEvaluate();
	EXPECT_LT(maxError(mesh, mesh->points), 1e-5 * 2 * std::sqrt(3.0));

	// A similarity of the cage's own points is, in the world, mc * sim * mc^-1.
	const LMatrix sim = testmesh::product(testmesh::translation({0, 0.5, -0.25}), testmesh::product(testmesh::rotation({0, 0, 1}, 0.5), testmesh::scaling(0.8)));
	const std::vector<LVector> rest = cage->points;
	cage->points = mapped(rest, sim);
	host.evaluate(doc);
	const LMatrix world = testmesh::product(mc, testmesh::product(sim, testmesh::inverse(mc)));
	const LMatrix local = testmesh::product(testmesh::inverse(mm), testmesh::product(world, mm));
	EXPECT_LT(maxError(mesh, mapped(mesh->points, local)), 1e-5 * 2 * std::sqrt(3.0));
}

TEST_F(Deformation, StrengthAndRestrictionWeightsBlend)
{
	build(kMesh, kCage);
	bindAndEvaluate();
	const LMatrix move = testmesh::translation({1, 0, 0});
	cage->points = mapped(kCage.points, move);
	const size_t n = kMesh.points.size();

	setReal(MORVEX_STRENGTH, 0.0);
	host.evaluate(doc);
	for (size_t i = 0; i < n; ++i)
		ASSERT_EQ(deformed(mesh)[i].x, kMesh.points[i].x) << "strength 0 leaves every point";
	setReal(MORVEX_STRENGTH, 0.5);
	host.evaluate(doc);
	EXPECT_LT(maxError(mesh, mapped(kMesh.points, testmesh::translation({0.5, 0, 0}))), 1e-4);
	setReal(MORVEX_STRENGTH, 1.0);

	std::vector<float> weights(n, 1.0f);
	weights[0] = 0.25f;
	weights[1] = 1.5f;
	weights[2] = 0.0f;
	deformer->restrictions[mesh->id()] = weights;
	host.evaluate(doc);
	EXPECT_NEAR(deformed(mesh)[0].x - kMesh.points[0].x, 0.25, 1e-4);
	EXPECT_NEAR(deformed(mesh)[1].x - kMesh.points[1].x, 1.0, 1e-4) << "a weight above 1 gives the full movement, not more";
	EXPECT_EQ(deformed(mesh)[2].x, kMesh.points[2].x);
	deformer->restrictions[mesh->id()].pop_back();
	host.evaluate(doc);
	EXPECT_NEAR(deformed(mesh)[0].x - kMesh.points[0].x, 1.0, 1e-4) << "weights of another point count do not apply";
}

TEST_F(Deformation, StretchAmountBlendsTheFaceFactor)
{
	build(kMesh, kCage);
	bindAndEvaluate();
	cage->points = mapped(kCage.points, testmesh::scaling(2.0));
	auto run = [&](double g) {
		setReal(MORVEX_STRETCH, g);
		host.evaluate(doc);
		return deformed(mesh);
	};
	const std::vector<LVector> none = run(0.0), half = run(0.5), full = run(1.0), more = run(100.0), below = run(-3.0);
	for (size_t i = 0; i < none.size(); ++i)
	{
		ASSERT_EQ(below[i].x, none[i].x) << "below 0 counts as 0";
		ASSERT_EQ(more[i].y, full[i].y) << "from 1 up the factor is the stretch itself";
		ASSERT_NEAR(half[i].z, 0.5 * (none[i].z + full[i].z), 1e-5) << "half-way for g = 0.5";
	}
	const std::vector<LVector> scaled = mapped(kMesh.points, testmesh::scaling(2.0));
	for (size_t i = 0; i < scaled.size(); ++i)
		ASSERT_LT(testmesh::distance(full[i], scaled[i]), 4e-5) << "full stretch follows the scaling";

	// Faces without rest area keep their plain normals; all of them gives g = 0.
	for (Int64 j = 0; j < internals(m).restAreas.GetCount(); ++j)
		internals(m).restAreas[j] = 0.0f;
	const std::vector<LVector> flat = run(100.0);
	for (size_t i = 0; i < none.size(); ++i)
		ASSERT_EQ(flat[i].x, none[i].x);
}

TEST_F(Deformation, InsideOnlyBindsAndMovesOnlyInsidePoints)
{
	const testmesh::PushedMesh pushed = testmesh::pushedIcosphere({0, 0, 0}, 1.0, 2, 1.8, 5);
	build(pushed.mesh, kCage);
	deformer->container().entries[MORVEX_INSIDE_ONLY] = vtnhost::Value::Bool(true);
	bindAndEvaluate();
	ASSERT_EQ(internals(m).bindings.GetCount(), 1);
	const Cobjbuff* rec = internals(m).bindings[0];
	ASSERT_NE(rec->validPoints, nullptr);
	EXPECT_EQ(rec->pointCount, static_cast<Int32>(pushed.mesh.points.size() - pushed.pushed.size()));
	cage->points = mapped(kCage.points, testmesh::translation({0, 2, 0}));
	host.evaluate(doc);
	size_t next_pushed = 0;
	for (size_t i = 0; i < pushed.mesh.points.size(); ++i)
	{
		const bool out = next_pushed < pushed.pushed.size() && pushed.pushed[next_pushed] == static_cast<Int32>(i);
		next_pushed += out;
		const double dy = deformed(mesh)[i].y - pushed.mesh.points[i].y;
		if (out)
			ASSERT_EQ(dy, 0.0) << "outside point " << i << " is never written";
		else
			ASSERT_NEAR(dy, 2.0, 1e-4) << "inside point " << i << " reads its own row";
	}
}

TEST_F(Deformation, PointCountChangesDropOrReset)
{
	build(kMesh, kCage);
	Object* second = testscene::addMesh(host, doc, "Second", testmesh::icosphere({0, 0.2, 0}, 0.5, 1), mesh);
	bindAndEvaluate();
	ASSERT_EQ(internals(m).bindings.GetCount(), 2);
	// With two bound objects only the changed one is dropped, and bound afresh next time.
	second->points.pop_back();
	host.evaluate(doc);
	ASSERT_EQ(internals(m).bindings.GetCount(), 1);
	EXPECT_EQ(internals(m).bindings[0]->pointCount, static_cast<Int32>(kMesh.points.size()));
	host.evaluate(doc);
	EXPECT_EQ(internals(m).bindings.GetCount(), 2);
	EXPECT_EQ(internals(m).memoryUsed, m->Calcola_memoria());

	// The only bound object changing resets everything. (A record whose object
	// was deleted stays until the next bind, so bind afresh with one object.)
	doc->remove(second).reset();
	bindAndEvaluate();
	ASSERT_EQ(internals(m).bindings.GetCount(), 1);
	mesh->points.pop_back();
	host.evaluate(doc);
	EXPECT_EQ(internals(m).bindings.GetCount(), 0);
	EXPECT_EQ(internals(m).restPoints.GetCount(), 0);
	host.evaluate(doc);
	EXPECT_EQ(memoryText(), "0");
	EXPECT_EQ(maxError(mesh, mesh->points), 0.0) << "nothing deforms until the next bind";
}

TEST_F(Deformation, CageChangesReset)
{
	build(kMesh, kCage);
	bindAndEvaluate();
	cage->points.push_back({0, 0, 0});
	host.evaluate(doc);
	EXPECT_EQ(internals(m).bindings.GetCount(), 0);
	EXPECT_EQ(memoryText(), "0");

	bindAndEvaluate();
	ASSERT_EQ(internals(m).bindings.GetCount(), 1);
	vtnhost::setLink(deformer, MORVEX_CAGE, nullptr);
	host.evaluate(doc);
	EXPECT_EQ(internals(m).bindings.GetCount(), 0);
	EXPECT_EQ(memoryText(), "0");
}

TEST_F(Deformation, BindingsThatCannotBeReadSafelyNeverDeform)
{
	build(kMesh, kCage);
	bindAndEvaluate();
	// A corner out of range after binding.
	cage->polygons[7].c = 4000;
	host.evaluate(doc);
	EXPECT_EQ(internals(m).bindings.GetCount(), 0);
	cage->polygons[7].c = kCage.polygons[7].c;

	// A deform cache whose counts are not the cage's.
	bindAndEvaluate();
	ASSERT_EQ(internals(m).bindings.GetCount(), 1);
	cage->deformCache = host.newPolygonObject("cache", {{0, 0, 0}}, {});
	host.evaluate(doc);
	EXPECT_EQ(internals(m).bindings.GetCount(), 0);
	cage->deformCache.reset();

	// A record without weight tables is dropped, and the mesh keeps its points.
	bindAndEvaluate();
	Cobjbuff* rec = internals(m).bindings[0];
	rec->PSI.Free();
	cage->points = mapped(kCage.points, testmesh::translation({1, 0, 0}));
	host.evaluate(doc);
	EXPECT_EQ(maxError(mesh, mesh->points), 0.0);
	EXPECT_EQ(internals(m).bindings.GetCount(), 0);
}

TEST_F(Deformation, ABreakAtOnceMovesNothingButStillNotifies)
{
	build(kMesh, kCage);
	bindAndEvaluate();
	cage->points = mapped(kCage.points, testmesh::translation({1, 0, 0}));
	vtnhost::Thread thread;
	thread.requestBreak();
	const size_t updates = unitRecorder().messageCount(mesh, MSG_UPDATE);
	host.evaluate(doc, &thread);
	EXPECT_EQ(maxError(mesh, mesh->points), 0.0);
	EXPECT_EQ(unitRecorder().messageCount(mesh, MSG_UPDATE), updates + 1);
	EXPECT_EQ(internals(m).bindings.GetCount(), 1);

	// Without workers the break is asked for every 64 points: a break at the
	// third test leaves the first two chunks deformed.
	const int workers_before = host.workerCount();
	host.setWorkerCount(0);
	vtnhost::Thread later;
	later.breakAfterTests(2);
	host.evaluate(doc, &later);
	host.setWorkerCount(workers_before);
	EXPECT_EQ(later.tests(), 3);
	EXPECT_NEAR(deformed(mesh)[127].x - mesh->points[127].x, 1.0, 1e-4);
	EXPECT_EQ(deformed(mesh)[128].x, mesh->points[128].x);
}

TEST_F(Deformation, ABreakOnAFineMeshLeavesWhatThePlainLoopLeaves)
{
	// 10 242 points: 161 chunks of 64, which the workers take ten at a time.
	build(testmesh::icosphere({0.1, -0.2, 0.05}, 1.0, 5), kCage);
	bindAndEvaluate();
	cage->points = mapped(kCage.points, testmesh::translation({1, 0, 0}));
	const std::vector<LVector> full = evaluateReference(mesh);
	const int workers_before = host.workerCount();

	// The plain loop asks every 64 points: the 38th test breaks after 37 chunks.
	host.setWorkerCount(0);
	vtnhost::Thread thread;
	thread.breakAfterTests(37);
	EXPECT_EQ(deformedPrefix(evaluateReference(mesh, &thread), full, mesh->points), 37 * 64);

	// On two workers a break stops the spans not yet taken; those taken are
	// finished: a prefix of whole chunks, each as the plain loop deforms it.
	host.setWorkerCount(2);
	vtnhost::Thread racing;
	{
		BreakAsWorkersStart gate(host, racing);
		host.evaluate(doc, &racing);
		EXPECT_TRUE(gate.stopped());
	}
	host.setWorkerCount(workers_before);
	const long prefix = deformedPrefix(deformed(mesh), full, mesh->points);
	ASSERT_GE(prefix, 0) << "what is not deformed is untouched";
	EXPECT_GT(prefix, 0) << "the spans taken are finished";
	EXPECT_TRUE(prefix % (10 * 64) == 0 || prefix == long(full.size())) << "whole spans of ten chunks";
	EXPECT_LE(prefix, 2 * 10 * 64) << "one span a worker";
}

// A break that comes while the workers deform a large mesh is acted on at
// once: no worker takes a span after it, so at the most a span of 4096
// points a worker is written after the break.
TEST_F(Deformation, ABreakDuringALargePassStopsTheWorkersWithinASpan)
{
	// 40 962 points: 641 chunks, in spans of 40 chunks (2 560 points).
	build(testmesh::icosphere({0.05, 0.1, -0.1}, 1.0, 6), testmesh::icosphere({0, 0, 0}, 1.5, 1));
	bindAndEvaluate();
	for (LVector& p : cage->points)
		p.y += 0.5;
	const std::vector<LVector> full = evaluateReference(mesh);
	const int workers_before = host.workerCount();
	host.setWorkerCount(2);
	vtnhost::Thread thread;
	const size_t updates = unitRecorder().messageCount(mesh, MSG_UPDATE);
	{
		BreakAsWorkersStart gate(host, thread);
		host.evaluate(doc, &thread);
		EXPECT_TRUE(gate.stopped()) << "the run is stopped, not waited out";
	}
	host.setWorkerCount(workers_before);
	const long prefix = deformedPrefix(deformed(mesh), full, mesh->points);
	ASSERT_GE(prefix, 0) << "what is not deformed is untouched";
	EXPECT_TRUE(prefix % 64 == 0 || prefix == long(full.size())) << "whole chunks";
	EXPECT_LE(prefix, 2 * 4096) << "points written after the break";
	EXPECT_EQ(unitRecorder().messageCount(mesh, MSG_UPDATE), updates + 1);
	EXPECT_EQ(internals(m).bindings.GetCount(), 1) << "a break while deforming keeps the binding";
}

TEST_F(Deformation, ACancelledBindLeavesNoBindings)
{
	build(kMesh, kCage);
	Object* second = testscene::addMesh(host, doc, "Second", testmesh::icosphere({0, 0.2, 0}, 0.5, 1), mesh);
	ASSERT_TRUE(vtnhost::pressButton(deformer, MORVEX_BIND));
	vtnhost::Thread thread;
	thread.requestBreak();
	host.evaluate(doc, &thread);
	EXPECT_EQ(internals(m).bindings.GetCount(), 0);
	EXPECT_EQ(internals(m).restPoints.GetCount(), 0) << "the whole deformer is reset";
	EXPECT_EQ(memoryText(), "0");
	EXPECT_EQ(host.statusText(), "");
	EXPECT_EQ(maxError(second, second->points), 0.0);
}

TEST_F(Deformation, ACageBentByAnotherDeformerIsFollowedThroughItsCache)
{
	build(kMesh, kCage);
	bindAndEvaluate();
	// The cage's cache as another deformer would leave it: moved up by 1.
	cage->deformCache = host.newPolygonObject("Cage", mapped(kCage.points, testmesh::translation({0, 1, 0})), kCage.polygons);
	host.evaluate(doc);
	EXPECT_LT(maxError(mesh, mapped(kMesh.points, testmesh::translation({0, 1, 0}))), 1e-4);
}

TEST_F(Deformation, AGeneratorsCacheIsBoundThroughItsOwnObject)
{
	cage = addLinked(MORVEX_CAGE, kCage, "Cage");
	Object* gen = testscene::addObject(host, doc, Onull, "Generator");
	gen->generatorCache = host.newPolygonObject("Generated", kMesh.points, kMesh.polygons);
	gen->generatorCache->cacheParent = gen;
	std::unique_ptr<Object> d = doc->remove(deformer);
	doc->insert(std::move(d), gen, nullptr);
	ASSERT_TRUE(vtnhost::pressButton(deformer, MORVEX_BIND));
	host.evaluate(doc);
	ASSERT_EQ(internals(m).bindings.GetCount(), 1);
	EXPECT_EQ(internals(m).bindings[0]->link->GetLink(nullptr), gen->generatorCache->asObject());
	cage->points = mapped(kCage.points, testmesh::translation({0, 0, 1}));
	host.evaluate(doc);
	EXPECT_EQ(internals(m).bindings.GetCount(), 1) << "the same binding serves every evaluation";
	EXPECT_NEAR(gen->generatorCache->deformCache->points[3].z - kMesh.points[3].z, 1.0, 1e-4);
}

TEST_F(Deformation, PointsOnTheCageGetFiniteWeights)
{
	// Cage corners, edge midpoints and face centres: on edge lines and in face planes.
	std::vector<LVector> surface;
	for (size_t j = 0; j < 12; ++j)
	{
		const CPolygon& f = kCage.polygons[j];
		const LVector a = kCage.points[size_t(f.a)], b = kCage.points[size_t(f.b)], c = kCage.points[size_t(f.c)];
		surface.push_back(a);
		surface.push_back(testmesh::scaled(testmesh::add(a, b), 0.5));
		surface.push_back(testmesh::scaled(testmesh::add(testmesh::add(a, b), c), 1.0 / 3.0));
	}
	build(Mesh{surface, {{0, 1, 2, 2}}}, kCage);
	bindAndEvaluate();
	ASSERT_EQ(internals(m).bindings.GetCount(), 1);
	const Cobjbuff* rec = internals(m).bindings[0];
	for (Int32 r = 0; r < rec->pointCount; ++r)
	{
		for (Int32 k = 0; k < rec->cagePointCount; ++k)
			ASSERT_TRUE(std::isfinite(rec->FI[r][k])) << r;
		for (Int32 j = 0; j < rec->faceCount; ++j)
		{
			ASSERT_TRUE(std::isfinite(rec->PSI[r][j])) << r;
			ASSERT_GE(rec->PSI[r][j], 0.0f);
		}
	}
	for (const LVector& p : deformed(mesh))
		ASSERT_TRUE(std::isfinite(p.x) && std::isfinite(p.y) && std::isfinite(p.z));
}

TEST_F(Deformation, ATableThatCannotBeAllocatedLeavesNoBinding)
{
	build(kMesh, kCage);
	// The record comes first, then the vertex weights, then the face weights.
	for (long refused_after : {1, 2})
	{
		ASSERT_TRUE(vtnhost::pressButton(deformer, MORVEX_BIND));
		host.memory().failAfter(refused_after);
		host.evaluate(doc);
		host.memory().failAfter(-1);
		EXPECT_EQ(internals(m).bindings.GetCount(), 0) << refused_after;
		EXPECT_EQ(maxError(mesh, mesh->points), 0.0);
		host.evaluate(doc);
		EXPECT_EQ(internals(m).bindings.GetCount(), 1) << "the next evaluation tries again";
	}
}

// A worker that cannot get its scratch leaves its rows unwritten: the bind
// fails and says why, rather than binding points to rows that would move them
// to the origin.
TEST_F(Deformation, AWorkerWithoutScratchFailsTheBind)
{
	build(kMesh, kCage);
	const int workers_before = host.workerCount();
	for (int workers : {1, 2, 3})
		for (Int64 refused : {Int64{0}, Int64{2}})
		{
			host.setWorkerCount(workers);
			ASSERT_TRUE(vtnhost::pressButton(deformer, MORVEX_BIND));
			const size_t lines = host.console().size();
			{
				RefuseMemoryInChunk refuse(host, refused);
				host.evaluate(doc);
				ASSERT_TRUE(refuse.refused()) << "chunk " << refused << " ran";
			}
			EXPECT_EQ(internals(m).bindings.GetCount(), 0) << "workers " << workers << ", chunk " << refused;
			EXPECT_EQ(maxError(mesh, mesh->points), 0.0) << "no point moved to the origin";
			ASSERT_GT(host.console().size(), lines);
			EXPECT_EQ(host.console().back(), "not enough memory to bind Mesh");
			host.evaluate(doc);
			EXPECT_EQ(internals(m).bindings.GetCount(), 1) << "the next evaluation binds";
		}
	host.setWorkerCount(workers_before);
}

// The tables are not cleared before the bind: every row must be written
// whole. Binding a record again, over tables filled with NaN (a block of the
// same size, which the allocator tends to hand out again), gives the same bits.
TEST_F(Deformation, ARebindOverGarbageGivesTheSameTables)
{
	build(kMesh, kCage);
	const int workers_before = host.workerCount();
	for (int workers : {0, 2})
	{
		host.setWorkerCount(workers);
		bindAndEvaluate();
		ASSERT_EQ(internals(m).bindings.GetCount(), 1);
		Cobjbuff* r = internals(m).bindings[0];
		const std::vector<float> fi(r->FI.Data(), r->FI.Data() + r->FI.Count());
		const std::vector<float> psi(r->PSI.Data(), r->PSI.Data() + r->PSI.Count());
		for (int round = 0; round < 3; ++round)
		{
			std::fill(r->FI.Data(), r->FI.Data() + r->FI.Count(), std::numeric_limits<float>::quiet_NaN());
			std::fill(r->PSI.Data(), r->PSI.Data() + r->PSI.Count(), std::numeric_limits<float>::quiet_NaN());
			ASSERT_TRUE(m->Calcola_GC(deformer->asObject(), cage->asObject(), r, nullptr));
			ASSERT_EQ(size_t(r->FI.Count()), fi.size());
			ASSERT_EQ(size_t(r->PSI.Count()), psi.size());
			EXPECT_EQ(std::memcmp(r->FI.Data(), fi.data(), fi.size() * 4), 0) << "workers " << workers;
			EXPECT_EQ(std::memcmp(r->PSI.Data(), psi.data(), psi.size() * 4), 0) << "workers " << workers;
		}
	}
	host.setWorkerCount(workers_before);
}

// A bind that stops part way leaves its record without tables: rows it never
// reached would hold whatever the allocator left there.
TEST_F(Deformation, AStoppedBindLeavesNoTables)
{
	const int workers_before = host.workerCount();
	host.setWorkerCount(0);
	build(kMesh, kCage);
	bindAndEvaluate();
	Cobjbuff* rec = NewObj(Cobjbuff);
	rec->link = BaseLink::Alloc();
	rec->link->SetLink(mesh->asObject());
	vtnhost::Thread thread;
	thread.breakAfterTests(2);
	EXPECT_FALSE(m->Calcola_GC(deformer->asObject(), cage->asObject(), rec, thread.asThread()));
	EXPECT_FALSE(rec->FI);
	EXPECT_FALSE(rec->PSI);
	EXPECT_FALSE(HasTables(*rec));
	FreeRecord(rec);
	host.setWorkerCount(workers_before);
}

TEST_F(Deformation, ABreakPartWayThroughAPlainBindResetsEverything)
{
	const int workers = host.workerCount();
	host.setWorkerCount(0);
	build(kMesh, kCage);
	ASSERT_TRUE(vtnhost::pressButton(deformer, MORVEX_BIND));
	vtnhost::Thread thread;
	thread.breakAfterTests(2);
	host.evaluate(doc, &thread);
	EXPECT_EQ(thread.tests(), 3) << "tests at points 0, 64 and 128, which breaks";
	EXPECT_EQ(internals(m).bindings.GetCount(), 0);
	EXPECT_EQ(internals(m).restPoints.GetCount(), 0);
	host.setWorkerCount(workers);
}

TEST_F(Deformation, WorkersBindBitForBitLikeThePlainLoop)
{
	const testmesh::PushedMesh pushed = testmesh::pushedIcosphere({0, 0, 0}, 1.0, 3, 1.7, 9);
	build(pushed.mesh, kCage);
	const int workers_before = host.workerCount();
	for (bool inside_only : {false, true})
	{
		deformer->container().entries[MORVEX_INSIDE_ONLY] = vtnhost::Value::Bool(inside_only);
		std::vector<std::vector<float>> tables;
		for (int workers : {0, 1, 2, 3})
		{
			host.setWorkerCount(workers);
			ASSERT_TRUE(vtnhost::pressButton(deformer, MORVEX_BIND));
			host.evaluate(doc);
			ASSERT_EQ(internals(m).bindings.GetCount(), 1);
			const Cobjbuff* r = internals(m).bindings[0];
			std::vector<float> t(r->FI[0], r->FI[0] + size_t(r->pointCount) * size_t(r->cagePointCount));
			t.insert(t.end(), r->PSI[0], r->PSI[0] + size_t(r->pointCount) * size_t(r->faceCount));
			tables.push_back(std::move(t));
		}
		for (size_t k = 1; k < tables.size(); ++k)
		{
			ASSERT_EQ(tables[k].size(), tables[0].size());
			EXPECT_EQ(std::memcmp(tables[k].data(), tables[0].data(), tables[0].size() * 4), 0) << "workers " << k << ", inside only " << inside_only;
		}
	}
	host.setWorkerCount(workers_before);
}

TEST_F(Deformation, WorkersDeformBitForBitLikeThePlainLoop)
{
	const testmesh::PushedMesh pushed = testmesh::pushedIcosphere({0, 0, 0}, 1.0, 3, 1.7, 9);
	const int workers_before = host.workerCount();
	// Every row, and the inside rows only (rows no longer follow the points one for one).
	for (bool inside_only : {false, true})
	{
		build(pushed.mesh, kCage);
		deformer->container().entries[MORVEX_INSIDE_ONLY] = vtnhost::Value::Bool(inside_only);
		bindAndEvaluate();
		cage->points = mapped(kCage.points, testmesh::product(testmesh::rotation({0, 1, 0}, 0.4), testmesh::scaling(1.3)));
		std::vector<float> weights(pushed.mesh.points.size());
		for (size_t i = 0; i < weights.size(); ++i)
			weights[i] = float(i % 5) * 0.3f;
		deformer->restrictions[mesh->id()] = weights;
		// First the plain loop, one point at a time; then sixteen rows side by side on 0 to 3 workers.
		const std::vector<LVector> plain = evaluateReference(mesh);
		for (int workers : {0, 1, 2, 3})
		{
			host.setWorkerCount(workers);
			host.evaluate(doc);
			EXPECT_EQ(std::memcmp(deformed(mesh).data(), plain.data(), plain.size() * sizeof(LVector)), 0)
			    << "workers " << workers << ", inside only " << inside_only;
		}
		host.setWorkerCount(workers_before);
	}
}
