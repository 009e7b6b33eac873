// Binding throughput in point-face pairs per second (the per-face integration,
// the reference, against the closed form on one worker and on every core), the
// deformation pass in weights and bytes per second (the plain per-point loop
// against the fast pass), how both scale with points and cage faces, and the
// memory read bandwidth they are held against. Compare the rows of one run;
// the machine's speed drifts between runs.
//
// The closed form runs on the widest instruction set the CPU offers, or on
// the one MORVEXER_SIMD=avx512|avx2|sse2|scalar names; BindPath runs each of
// them side by side whatever the variable says.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <ostream>
#include <string>
#include <thread>

#include "object/morvex.h"
#include "object/morvex_closedform.h"
#include "obj_io.h"
#include "shapes.h"
#include "vtn_memory.h"
#include "vtn_pmain.h"
#include "vtn_register.h"
#include "vtnhost/host.h"

namespace {

// The deformer with the plain per-point pass in every evaluation: the
// reference the fast pass is timed against, evaluated by the host alike.
class PlainMorvex : public Morvex
{
public:
	static NodeData* Alloc() { return NewObj(PlainMorvex); }
	bool ModifyObject(BaseObject* mod, BaseDocument* doc, BaseObject* op, const LMatrix& op_mg, const LMatrix& mod_mg, double lod,
	                  Int32 flags, BaseThread* thread) override
	{
		return ModifyObjectReference(mod, doc, op, op_mg, mod_mg, lod, flags, thread);
	}
};
constexpr Int32 kPlainMorvexer = 1990100;  // a type of this program only

vtnhost::Host& host()
{
	static vtnhost::Host* h = [] {
		auto* x = new vtnhost::Host();
		InitOS(x->table());
		RegisterObjectPlugin(ID_MORVEXER, String("Morvexer"), OBJECT_MODIFIER, Morvex::Alloc, String(), nullptr, 0);
		RegisterObjectPlugin(kPlainMorvexer, String("Morvexer, plain pass"), OBJECT_MODIFIER, PlainMorvex::Alloc, String(), nullptr, 0);
		return x;
	}();
	return *h;
}

// A mesh under the deformer and its cage beside it.
struct Scene
{
	vtnhost::Document* doc = nullptr;
	vtnhost::Object* mesh = nullptr;
	vtnhost::Object* deformer = nullptr;
	vtnhost::Object* cage = nullptr;
	Morvex* morvex = nullptr;
	int64_t points = 0, faces = 0, weights = 0;  // per bound point: cage points plus faces
};

struct Shape
{
	std::vector<LVector> points;
	std::vector<CPolygon> polygons;
};

std::vector<LVector> spherePoints(int n, double radius)
{
	std::vector<LVector> p;
	const double golden = 2.399963229728653;
	for (int i = 0; i < n; ++i)
	{
		const double y = 1.0 - 2.0 * (i + 0.5) / n, r = std::sqrt(1.0 - y * y);
		p.push_back({radius * r * std::cos(golden * i), radius * y, radius * r * std::sin(golden * i)});
	}
	return p;
}

// A cube of n x n quads a side, each split in two, pushed onto the sphere of
// radius 1.5: 12 n^2 triangles (12, 48, 300, 1200, 4800 for n = 1, 2, 5, 10, 20).
Shape sphereCage(int n)
{
	const mvx::Shape box = mvx::boxGrid({-1, -1, -1}, {1, 1, 1}, n, n, n);
	Shape s;
	for (const LVector& p : box.points)
		s.points.push_back(p * (1.5 / Len(p)));
	for (const auto& q : box.faces)
	{
		s.polygons.push_back({q[0], q[1], q[2], q[2]});
		s.polygons.push_back({q[0], q[2], q[3], q[3]});
	}
	return s;
}

// A document with the mesh, the deformer (of the given type) under it and the cage beside it.
Scene makeScene(const Shape& mesh_shape, const Shape& cage_shape, Int32 deformer_type = ID_MORVEXER)
{
	vtnhost::Host& h = host();
	Scene s;
	s.doc = h.newDocument();
	auto mesh = h.newPolygonObject("Mesh", mesh_shape.points, mesh_shape.polygons);
	s.mesh = mesh.get();
	s.doc->insert(std::move(mesh), nullptr, nullptr);
	auto deformer = h.newObject(deformer_type, "Morvexer");
	s.deformer = deformer.get();
	s.doc->insert(std::move(deformer), s.mesh, nullptr);
	auto cage = h.newPolygonObject("Cage", cage_shape.points, cage_shape.polygons);
	s.cage = cage.get();
	h.setLink(s.deformer, MORVEX_CAGE, s.cage);
	s.doc->insert(std::move(cage), nullptr, s.mesh);
	s.morvex = static_cast<Morvex*>(s.deformer->nodeData());
	s.points = int64_t(mesh_shape.points.size());
	s.faces = int64_t(cage_shape.polygons.size());
	s.weights = s.faces + int64_t(cage_shape.points.size());
	return s;
}

// `points` points on the unit sphere (one triangle, as only polygon objects deform) in a sphere cage.
Scene makeSphereScene(int points, int cage_n)
{
	return makeScene(Shape{spherePoints(points, 1.0), {{0, 1, 2, 2}}}, sphereCage(cage_n));
}

// The counts are the binding's own, as the deformer tells them: a cage of
// quads is bound as triangles.
void takeCounts(Scene& s)
{
	MorvexBindingSummary binding{};
	MorvexSummary summary{};
	summary.version = MORVEX_SUMMARY_VERSION;
	summary.capacity = 1;
	summary.bindings = &binding;
	s.deformer->callMessage(MSG_MORVEX_SUMMARY, &summary);
	if (summary.bindingCount != 1)
		std::abort();
	s.faces = binding.faceCount;
	s.weights = int64_t(binding.faceCount) + binding.cagePointCount;
}

// Binds the mesh as an evaluation does.
void bind(Scene& s)
{
	host().pressButton(s.deformer, MORVEX_BIND);
	host().evaluate(s.doc);
	takeCounts(s);
}

// Binds the mesh by the per-face integration.
void bindByIntegration(Scene& s)
{
	host().pressButton(s.deformer, MORVEX_BIND);
	if (!s.morvex->BindReference(s.deformer->asObject(), s.mesh->asObject(), nullptr))
		std::abort();
	takeCounts(s);
}

const char* kSchemes[] = {"integration", "closed form"};

// Arguments: scheme (0 the per-face integration, 1 the closed form), workers
// (0: the evaluating thread alone), points, cage n.
void Bind(benchmark::State& state)
{
	const int scheme = static_cast<int>(state.range(0));
	const int workers = static_cast<int>(state.range(1));
	vtnhost::Host& h = host();
	h.setWorkerCount(workers);
	Scene s = makeSphereScene(static_cast<int>(state.range(2)), static_cast<int>(state.range(3)));
	for (auto _ : state)
		scheme == 0 ? bindByIntegration(s) : bind(s);
	state.SetItemsProcessed(state.iterations() * s.points * s.faces);
	state.SetLabel(std::string(kSchemes[scheme]) + ", " + std::to_string(workers) + " worker(s), " +
	               std::to_string(s.points) + " points, " + std::to_string(s.faces) + " faces");
	h.destroyDocument(s.doc);
}

// The closed form on one worker, on the path of the argument (0 scalar, 1
// SSE2, 2 AVX2, 3 AVX-512), in the cage of the ratio rows.
void BindPath(benchmark::State& state)
{
	const ClosedFormPath wanted = static_cast<ClosedFormPath>(state.range(0));
	const ClosedFormPath saved = CurrentClosedFormPath();
	if (SetClosedFormPath(wanted) != wanted)
	{
		SetClosedFormPath(saved);
		state.SkipWithError((std::string(ClosedFormPathName(wanted)) + " is not on this CPU").c_str());
		return;
	}
	vtnhost::Host& h = host();
	h.setWorkerCount(1);
	Scene s = makeSphereScene(5000, 6);
	for (auto _ : state)
		bind(s);
	state.SetItemsProcessed(state.iterations() * s.points * s.faces);
	state.SetLabel(std::string("closed form, ") + ClosedFormPathName(wanted) + ", 1 worker(s), " + std::to_string(s.points) +
	               " points, " + std::to_string(s.faces) + " faces");
	h.destroyDocument(s.doc);
	SetClosedFormPath(saved);
}

const int kCores = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));

// One evaluation of a bound mesh after the cage moved: the deformation pass, in
// weights and bytes of weights read per second.
// Binds the mesh, then bends the cage a little, so each evaluation deforms.
void bindAndBend(Scene& s, bool plain)
{
	host().setWorkerCount(plain ? 0 : kCores);
	bind(s);
	for (LVector& p : s.cage->points)
		p.y += 0.1 * p.x;
}

void measureDeformation(benchmark::State& state, Scene& s, bool plain)
{
	bindAndBend(s, plain);
	for (auto _ : state)
		host().evaluate(s.doc);
	state.SetItemsProcessed(state.iterations() * s.points * s.weights);
	state.SetBytesProcessed(state.iterations() * s.points * s.weights * 4);
	state.SetLabel(std::string(plain ? "plain loop, " : "") + std::to_string(s.points) + " points, " + std::to_string(s.faces) +
	               " faces");
	host().destroyDocument(s.doc);
}

// Arguments: points, cage n.
void Deform(benchmark::State& state)
{
	Scene s = makeSphereScene(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
	measureDeformation(state, s, false);
}

// The bundled scanned model in the demo's cage (4 x 4 x 4 quads a side round
// it), by the plain per-point loop (argument 1) and the fast pass (0).
void DeformScan(benchmark::State& state)
{
	mvx::ObjMesh bunny;
	std::string error;
	if (!mvx::readObj(std::string(MORVEXER_SAMPLES_DIR) + "/bunny.obj", &bunny, &error))
	{
		state.SkipWithError(error.c_str());
		return;
	}
	Shape mesh;
	mesh.points = bunny.points;
	LVector lo = bunny.points[0], hi = bunny.points[0];
	for (const LVector& p : bunny.points)
	{
		lo = {std::min(lo.x, p.x), std::min(lo.y, p.y), std::min(lo.z, p.z)};
		hi = {std::max(hi.x, p.x), std::max(hi.y, p.y), std::max(hi.z, p.z)};
	}
	for (const auto& f : bunny.faces)
		for (size_t k = 1; k + 1 < f.size(); ++k)
			mesh.polygons.push_back({f[0], f[k], f[k + 1], f[k + 1]});
	const LVector size = hi - lo;
	const double margin = 0.08 * std::max({size.x, size.y, size.z});
	const mvx::Shape box = mvx::boxGrid(lo - LVector{margin, margin, margin}, hi + LVector{margin, margin, margin}, 4, 4, 4);
	Shape cage;
	cage.points = box.points;
	for (const auto& f : box.faces)
		cage.polygons.push_back({f[0], f[1], f[2], f[3]});
	const bool plain = state.range(0) == 1;
	Scene s = makeScene(mesh, cage, plain ? kPlainMorvexer : ID_MORVEXER);
	measureDeformation(state, s, plain);
}

// 256 MiB, far beyond the caches, read once by `threads` threads, each
// xor-folding its share with wide loads, so the loads and not the arithmetic
// set the pace. Returns the seconds it took.
double readOnce(const std::vector<uint64_t>& data, int threads)
{
	const size_t share = data.size() / size_t(threads);
	std::vector<uint64_t> folded(size_t(threads) * 8);
	auto fold = [&](int t) {
		uint64_t acc[8] = {};
		const uint64_t* p = data.data() + size_t(t) * share;
		for (size_t i = 0; i < share; i += 8)
			for (int k = 0; k < 8; ++k)
				acc[k] ^= p[i + k];
		std::copy(acc, acc + 8, folded.begin() + t * 8);
	};
	const auto start = std::chrono::steady_clock::now();
	std::vector<std::thread> pool;
	for (int t = 1; t < threads; ++t)
		pool.emplace_back(fold, t);
	fold(0);
	for (std::thread& th : pool)
		th.join();
	benchmark::DoNotOptimize(folded.data());
	return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

std::vector<uint64_t> readData() { return std::vector<uint64_t>(size_t(32) << 20, 1); }

// Memory read bandwidth, for comparison with the deformation's bytes per second.
void ReadBandwidth(benchmark::State& state)
{
	const int threads = static_cast<int>(state.range(0));
	const std::vector<uint64_t> data = readData();
	for (auto _ : state)
		readOnce(data, threads);
	state.SetBytesProcessed(state.iterations() * int64_t(data.size() * 8));
	state.SetLabel(std::to_string(threads) + " thread(s)");
}

double median(std::vector<double> v)
{
	std::sort(v.begin(), v.end());
	return v.empty() ? 0.0 : v[v.size() / 2];
}

// The deformation of a 1 000 000-point binding against the read bandwidth on
// every core, one after the other, twenty times: this machine shares its
// memory with other tenants, and alternating lets both sides of the ratio see
// the same moments. Reports the median of the twenty ratios, for the
// deformer's pass as the host times it around ModifyObject, and for the whole
// evaluation (with the host's copy of the mesh).
void DeformAgainstReads(benchmark::State& state)
{
	Scene s = makeSphereScene(1000000, 3);
	bindAndBend(s, false);
	const std::vector<uint64_t> data = readData();
	const double weight_bytes = double(s.points * s.weights * 4), read_bytes = double(data.size() * 8);
	std::vector<double> deform, evaluation, read, ratio, evaluation_ratio;
	for (auto _ : state)
	{
		const auto start = std::chrono::steady_clock::now();
		host().evaluate(s.doc);
		const double e = weight_bytes / std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
		const double d = weight_bytes / host().lastDeformerSeconds();
		const double r = read_bytes / readOnce(data, kCores);
		deform.push_back(d);
		evaluation.push_back(e);
		read.push_back(r);
		ratio.push_back(d / r);
		evaluation_ratio.push_back(e / r);
	}
	state.counters["deform_bytes_per_second"] = median(deform);
	state.counters["evaluation_bytes_per_second"] = median(evaluation);
	state.counters["read_bytes_per_second"] = median(read);
	state.counters["ratio"] = median(ratio);
	state.counters["evaluation_ratio"] = median(evaluation_ratio);
	state.SetLabel(std::to_string(s.points) + " points, " + std::to_string(s.faces) + " faces, " + std::to_string(kCores) +
	               " threads");
	host().destroyDocument(s.doc);
}

}  // namespace

// One thread against the integration; two workers against one (these rows,
// as all the summary's ratios rest on, run three times); then how the closed
// form scales with points (48 faces) and with faces (2000 points).
BENCHMARK(Bind)->Args({0, 1, 500, 6})->Args({1, 1, 5000, 6})->Args({1, kCores, 5000, 6})->Repetitions(3)
    ->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BindPath)->DenseRange(0, 3)->Repetitions(3)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(Bind)->Args({1, kCores, 1000, 2})->Args({1, kCores, 10000, 2})->Args({1, kCores, 100000, 2})
    ->Args({1, kCores, 1000000, 2})->Args({1, kCores, 2000, 1})->Args({1, kCores, 2000, 2})->Args({1, kCores, 2000, 5})
    ->Args({1, kCores, 2000, 10})->Args({1, kCores, 2000, 20})->Unit(benchmark::kMillisecond)->UseRealTime();

// The scanned model both ways; then the pass against points (108 faces) and against faces (10 000 points).
BENCHMARK(DeformScan)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime()->Repetitions(3);
BENCHMARK(Deform)->Args({1000, 3})->Args({10000, 3})->Args({100000, 3})->Args({10000, 1})->Args({10000, 5})
    ->Args({10000, 10})->Args({10000, 20})->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(Deform)->Args({1000000, 3})->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(ReadBandwidth)->Arg(1)->Arg(kCores)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(DeformAgainstReads)->Iterations(20)->Unit(benchmark::kMillisecond)->UseRealTime();

namespace {

// Prints the runs as usual, then the ratios that matter, all from this one run.
class SummaryReporter : public benchmark::ConsoleReporter
{
public:
	void ReportRuns(const std::vector<Run>& runs) override
	{
		ConsoleReporter::ReportRuns(runs);
		// Of repeated runs the fastest counts, on both sides of a ratio: what
		// other tenants of the machine take from its memory only slows runs down.
		for (const Run& r : runs)
		{
			if (r.run_type != Run::RT_Iteration)
				continue;
			auto rate = [&](const char* name) {
				auto it = r.counters.find(name);
				return it == r.counters.end() ? 0.0 : double(it->second);
			};
			// Named as written below, without the repetitions and the clock.
			std::string name = r.benchmark_name();
			for (const char* part : {"/real_time", "/repeats:3"})
				if (auto at = name.find(part); at != std::string::npos)
					name.erase(at, std::strlen(part));
			auto& best = rates_[name];
			best = {std::max(best.first, rate("items_per_second")), std::max(best.second, rate("bytes_per_second"))};
			if (name == "DeformAgainstReads/iterations:20")
				alternated_ = {rate("ratio"), rate("deform_bytes_per_second"), rate("read_bytes_per_second"),
				               rate("evaluation_ratio")};
		}
	}

	void Finalize() override
	{
		ConsoleReporter::Finalize();
		std::ostream& out = GetOutputStream();
		const std::string all = std::to_string(kCores);
		out << "\nSummary (ratios of this run)\n";
		ratio(out, "closed form / integration, one worker, 432 faces", items("Bind/1/1/5000/6"), items("Bind/0/1/500/6"), 25);
		ratio(out, "closed form, " + all + " workers / one worker", items("Bind/1/" + all + "/5000/6"), items("Bind/1/1/5000/6"), 1.8);
		const double scalar = items("BindPath/0");
		out << "  closed form on one worker by instruction set, pairs/s (432 faces; times the scalar path):";
		for (int p = 0; p < 4; ++p)
		{
			const double v = items("BindPath/" + std::to_string(p));
			out << "  " << ClosedFormPathName(static_cast<ClosedFormPath>(p)) << " " << human(v);
			if (p > 0 && v > 0 && scalar > 0)
			{
				char text[32];
				std::snprintf(text, sizeof text, " (%.2f)", v / scalar);
				out << text;
			}
		}
		out << "\n";
		ratio(out, "scanned model: plain loop time / fast pass time", items("DeformScan/0"), items("DeformScan/1"), 3);
		ratio(out, "deformation, 1 000 000 points / read bandwidth, " + all + " threads, median of 20 alternations",
		      alternated_[0], alternated_[0] > 0 ? 1.0 : 0.0, 0.7);
		out << "    (median deformation " << human(alternated_[1]) << " bytes/s, median read " << human(alternated_[2])
		    << " bytes/s; the whole evaluation, with the host's copy of the mesh: " << human(alternated_[3]) << ")\n";
		out << "binding, closed form on " << all << " workers, pairs/s against points (48 faces):";
		for (const char* n : {"1000", "10000", "100000", "1000000"})
			figure(out, n, items("Bind/1/" + all + "/" + n + "/2"));
		out << "\nbinding, closed form on " << all << " workers, pairs/s against faces (2000 points):";
		for (auto [faces, n] : {std::pair{"12", "1"}, {"48", "2"}, {"300", "5"}, {"1200", "10"}, {"4800", "20"}})
			figure(out, faces, items("Bind/1/" + all + "/2000/" + n));
		out << "\ndeformation, bytes/s against points (108 faces):";
		for (const char* n : {"1000", "10000", "100000", "1000000"})
			figure(out, n, bytes("Deform/" + std::string(n) + "/3"));
		out << "\ndeformation, bytes/s against faces (10 000 points):";
		for (auto [faces, n] : {std::pair{"12", "1"}, {"300", "5"}, {"1200", "10"}, {"4800", "20"}})
			figure(out, faces, bytes("Deform/10000/" + std::string(n)));
		out << "\nread bandwidth, bytes/s: one thread " << human(bytes("ReadBandwidth/1")) << ", " << all << " threads "
		    << human(bytes("ReadBandwidth/" + all)) << "\n";
	}

private:
	double items(const std::string& name) const { return find(name).first; }
	double bytes(const std::string& name) const { return find(name).second; }
	std::pair<double, double> find(const std::string& name) const
	{
		auto it = rates_.find(name);
		return it == rates_.end() ? std::pair{0.0, 0.0} : it->second;
	}
	static std::string human(double v)
	{
		if (v <= 0)
			return "-";
		char text[32];
		std::snprintf(text, sizeof text, "%.3g", v);
		return text;
	}
	static void figure(std::ostream& out, const std::string& what, double v) { out << "  " << what << ": " << human(v); }
	static void ratio(std::ostream& out, const std::string& what, double a, double b, double target)
	{
		out << "  " << what << ": ";
		if (a <= 0 || b <= 0)
		{
			out << "not run\n";
			return;
		}
		char text[96];
		std::snprintf(text, sizeof text, "%.2f (target %.2g: %s)\n", a / b, target, a / b >= target ? "met" : "missed");
		out << text;
	}

	std::map<std::string, std::pair<double, double>> rates_;
	std::array<double, 4> alternated_{};  // ratio, deformation and read bytes per second, evaluation ratio
};

}  // namespace

int main(int argc, char** argv)
{
	benchmark::Initialize(&argc, argv);
	if (benchmark::ReportUnrecognizedArguments(argc, argv))
		return 1;
	// The path every closed-form row but BindPath's runs on.
	ClosedFormPath path = CurrentClosedFormPath();
	if (const char* name = std::getenv("MORVEXER_SIMD"))
	{
		ClosedFormPath wanted;
		if (!ClosedFormPathFromName(name, &wanted))
		{
			std::fprintf(stderr, "MORVEXER_SIMD=%s names no path (avx512, avx2, sse2, scalar)\n", name);
			return 1;
		}
		path = SetClosedFormPath(wanted);
	}
	benchmark::AddCustomContext("closed form path", ClosedFormPathName(path));
	SummaryReporter reporter;
	benchmark::RunSpecifiedBenchmarks(&reporter);
	benchmark::Shutdown();
	return 0;
}
