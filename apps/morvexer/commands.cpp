#include "commands.h"
#include "vtnhost/actions.h"

#include <algorithm>
#include <atomic>
#include <charconv>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <exception>
#include <fstream>
#include <memory>
#include <mutex>
#include <new>
#include <nlohmann/json.hpp>
#include <optional>
#include <sstream>
#include <thread>

#include "cage_check.h"
#include "cli_host.h"
#include "command_steps.h"
#include "obj_io.h"
#include "options.h"
#include "outputs.h"
#include "scene_info.h"
#include "vtnhost/platform.h"
#include "weights_file.h"

namespace mvx {
namespace {

void say(const CommonOptions& c, const std::string& line)
{
	if (!c.quiet)
		std::printf("%s\n", line.c_str());
}

}  // namespace

ObjMesh readMesh(StepRunner& steps, RunFiles& files, const std::string& option, const std::string& path, uint64_t limit)
{
	const bool pipe = files.input(option, path, RunFiles::Use::streamable).kind == vtnhost::platform::FileKind::pipe;
	ObjMesh m;
	// A pipe may wait for a writer that never comes, in a read nothing can
	// break; reading writes nothing, so Ctrl-C then ends the tool at once.
	steps.run(
	    "reading " + vtnhost::platform::fileNameOf(path),
	    [&](Progress& progress) {
		    std::string error;
		    if (!readObj(path, &m, &error, &progress, std::min(limit, pipe ? kPipeBytes : UINT64_MAX)))
			    throw Failure{error};
	    },
	    pipe ? StopBy::Abandon : StopBy::Itself);
	return m;
}

ObjMesh readCage(const CommonOptions& c, StepRunner& steps, RunFiles& files, const std::string& path, bool force, const char* forced)
{
	ObjMesh cage = readMesh(steps, files, "--cage", path);
	const CageReport report = checkCage(cage.points, cage.faces);
	if (!report.ok)
	{
		if (!force)
			throw Failure{path + ": " + report.problem + " (--force " + forced + " anyway)"};
		std::fprintf(stderr, "warning: %s: %s; going on (--force)\n", path.c_str(), report.problem.c_str());
	}
	if (report.inward)
	{
		reverseFaces(&cage.faces);
		if (!c.quiet)
			std::fprintf(stderr, "warning: %s: the faces point inward; turned outward (points unchanged)\n", path.c_str());
	}
	return cage;
}

namespace {

// The deformer's check of mesh (its link already set): the deformer has no
// way to stop it, and it only tags the mesh, so Ctrl-C ends the tool at once.
void pressCheck(CliHost& h, CliHost::Scene& s, vtnhost::Object* mesh)
{
	h.steps().run("finding the points of " + mesh->name + " outside the cage",
	              [&](Progress&) { vtnhost::pressButton(s.deformer, MORVEX_CHECK); }, StopBy::Abandon);
}

}  // namespace

size_t countOutside(CliHost& h, CliHost::Scene& s, vtnhost::Object* mesh, std::vector<Int32>* first, size_t keep)
{
	auto& params = s.deformer->container().entries;
	const vtnhost::Value saved = params.count(MORVEX_SAFE_DISTANCE) ? params[MORVEX_SAFE_DISTANCE] : vtnhost::Value::Real(0.1);
	params[MORVEX_SAFE_DISTANCE] = vtnhost::Value::Real(0.0);
	vtnhost::setLink(s.deformer, MORVEX_CHECK_OBJECT, mesh);
	const size_t before = mesh->tags.size();
	pressCheck(h, s, mesh);
	size_t outside = 0;
	if (mesh->tags.size() > before)
	{
		const auto& sel = mesh->tags.front()->select.indices;
		outside = sel.size();
		if (first)
			for (Int32 i : sel)
				if (first->size() < keep)
					first->push_back(i);
		mesh->removeTag(mesh->tags.front().get());
	}
	params[MORVEX_SAFE_DISTANCE] = saved;
	vtnhost::setLink(s.deformer, MORVEX_CHECK_OBJECT, nullptr);
	return outside;
}

namespace {

// Bytes in the way the plug-in shows its memory (1024 to the kilobyte).
std::string sizeText(uint64_t bytes)
{
	char buf[32];
	if (bytes <= 1024)
		std::snprintf(buf, sizeof buf, "%llu B", static_cast<unsigned long long>(bytes));
	else if (bytes <= (1u << 20))
		std::snprintf(buf, sizeof buf, "%.2f KB", static_cast<double>(bytes) / 1024.0);
	else if (bytes <= (1u << 30))
		std::snprintf(buf, sizeof buf, "%.2f MB", static_cast<double>(bytes) / 1048576.0);
	else
		std::snprintf(buf, sizeof buf, "%.2f GB", static_cast<double>(bytes) / 1073741824.0);
	return buf;
}

// What a binding's weights take: for every bound point a float for each cage
// point and one for each cage triangle (the cage is bound as triangles).
uint64_t weightBytes(uint64_t boundPoints, const vtnhost::Object* cage)
{
	uint64_t triangles = 0;
	for (const CPolygon& f : cage->polygons)
		triangles += f.c == f.d ? 1u : 2u;
	return boundPoints * (static_cast<uint64_t>(cage->points.size()) + triangles) * sizeof(float);
}

}  // namespace

double bindScene(const CommonOptions& c, CliHost& h, CliHost::Scene& s, bool inside_only, bool force)
{
	s.deformer->container().entries[MORVEX_INSIDE_ONLY] = vtnhost::Value::Bool(inside_only);
	// Refused up front: a bind that runs out of memory halfway has cost the
	// user the minutes until then, or pushed the machine into swapping. Every
	// point is bound unless inside-only, so then the count comes after the
	// check of which points lie outside; otherwise before it, at once.
	uint64_t need = 0;
	bool checked = false;
	auto checkMemory = [&] {
		const uint64_t available = vtnhost::platform::availableMemory();
		checked = true;
		if (need <= available)
			return;
		const std::string figures = "the weights need " + sizeText(need) + " but " + sizeText(available) + " of memory is available";
		if (!force)
			throw Failure{s.cage->name + ": " + figures + " (--force tries anyway)"};
		std::fprintf(stderr, "warning: %s: %s; trying anyway\n", s.cage->name.c_str(), figures.c_str());
	};
	if (!inside_only)
	{
		for (vtnhost::Object* m : s.meshes)
			need += weightBytes(m->points.size(), s.cage);
		checkMemory();
	}
	for (vtnhost::Object* m : s.meshes)
	{
		const size_t out = countOutside(h, s, m);
		if (out > 0 && !c.quiet)
			std::fprintf(stderr, "note: %s: %zu of %zu points lie outside the cage%s\n", m->name.c_str(), out, m->points.size(),
			             inside_only ? " and are left unbound" : "");
		if (inside_only)
			need += weightBytes(m->points.size() - out, s.cage);
	}
	if (!checked)
		checkMemory();
	h.host().memory().clearFailures();
	const auto start = std::chrono::steady_clock::now();
	vtnhost::pressButton(s.deformer, MORVEX_BIND);
	h.evaluate(s.doc, "binding");
	const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
	// A binding the plug-in could not allocate is left out, so a scene missing
	// one would deform part of the meshes only.
	const vtnhost::AllocRecord failed = h.host().memory().largestFailure();
	if (failed.size > 0)
		throw Failure{s.cage->name + ": memory ran out while binding: " + sizeText(failed.size) + " was asked for at once (" +
		              std::to_string(failed.size) + " bytes; the weights need " + sizeText(need) + " in all)"};
	const std::string memory = memoryText(s.deformer);
	if (memory == "0" || memory == "0 B")
		throw Failure{s.cage->name + ": nothing could be bound to this cage"};
	return seconds;
}

namespace {

// Loads a scene file as a step of its own, which Ctrl-C stops; null with *error
// when it cannot be read.
vtnhost::Document* loadScene(CliHost& h, const std::string& path, std::string* error, bool packed_skipped)
{
	vtnhost::Document* doc = nullptr;
	vtnhost::Thread thread;
	h.steps().run("loading " + vtnhost::platform::fileNameOf(path),
	              [&](Progress&) { doc = h.host().loadDocument(path, error, packed_skipped, &thread); }, StopBy::Itself, &thread);
	return doc;
}

}  // namespace

CliHost::Scene loadBoundScene(CliHost& h, const std::string& path)
{
	std::string error;
	const size_t lines = h.host().errors().size();
	vtnhost::Document* doc = loadScene(h, path, &error, false);
	if (!doc)
		throw Failure{error};
	// A block refused as damaged would leave its object unbound: nothing is deformed from such a scene.
	if (h.host().errors().size() > lines)
		throw Failure{path + ": " + h.host().errors()[lines]};
	CliHost::Scene s = h.findScene(doc, path);
	requireReadable(*s.deformer, path);
	if (memoryText(s.deformer) == "0" || memoryText(s.deformer) == "0 B")
		throw Failure{path + ": the deformer holds no binding"};
	return s;
}

std::string sourceText(const vtnhost::Object* mesh)
{
	const vtnhost::Value* v = mesh->container().find(CLI_SOURCE_TEXT);
	return v ? v->s : objText(mesh->points, {}, mesh->name);
}

ObjMesh sourceOf(const vtnhost::Object* mesh)
{
	ObjMesh m;
	const vtnhost::Value* path = mesh->container().find(CLI_SOURCE_PATH);
	m.path = path ? path->s : mesh->name;
	m.text = sourceText(mesh);
	m.points = mesh->points;
	return m;
}

const std::vector<LVector>& deformedPoints(const vtnhost::Object* mesh)
{
	return mesh->deformCache ? mesh->deformCache->points : mesh->points;
}

namespace {

// The rest positions were finite when read, so a deformed position that is
// not comes from the pose: the posed cage is the file to blame.
void requireFinite(const std::vector<LVector>& points, const std::string& mesh, const std::string& posed)
{
	for (size_t i = 0; i < points.size(); ++i)
		if (!std::isfinite(points[i].x) || !std::isfinite(points[i].y) || !std::isfinite(points[i].z))
			throw Failure{posed + ": moves vertex " + std::to_string(i + 1) + " of " + mesh +
			              " to a position that is not a finite number (the posed cage's coordinates are too large)"};
}

// Writes the files of a frame sequence on a thread of its own, so that one
// frame goes to disk while the next one deforms. At most one frame waits to be
// written: the deformation runs no more than a frame ahead, and memory holds
// two frames' points, never the sequence's. Frames are written in order, each
// file whole (through a rename) or not at all.
class FrameWriter
{
public:
	struct File
	{
		size_t source;  // which of the sources it is a pose of
		std::string path;
		std::vector<LVector> points;
	};

	explicit FrameWriter(const std::vector<ObjMesh>& sources) : sources_(sources), thread_([this] { run(); }) {}
	~FrameWriter() { close(); }

	// Hands a frame over, once the one before has been taken up; throws the
	// writer's failure rather than queue more after it.
	void put(std::vector<File>&& frame)
	{
		std::unique_lock<std::mutex> lock(mutex_);
		changed_.wait(lock, [&] { return !waiting_ || failure_ || stopped_; });
		if (failure_)
			throw Failure{*failure_};
		if (stopped_)
			throw Interrupted{"writing " + vtnhost::platform::fileNameOf(frame.front().path)};
		waiting_ = std::move(frame);
		changed_.notify_all();
	}

	// Writes what was handed over and stops, with its progress on shown;
	// throws the writer's failure. After Ctrl-C, the file being written is left
	// out (a whole file or none) and nothing after it is started.
	void finish(Progress* shown = nullptr)
	{
		shown_ = shown;
		close();
		if (failure_)
			throw Failure{*failure_};
	}

	// Waits for what was handed over to be written.
	void close()
	{
		{
			std::lock_guard<std::mutex> lock(mutex_);
			closing_ = true;
			changed_.notify_all();
		}
		if (thread_.joinable())
			thread_.join();
	}

	size_t written() const { return written_; }

private:
	void run()
	{
		std::string text;  // one buffer for every file: its pages are touched once
		for (;;)
		{
			std::vector<File> frame;
			{
				std::unique_lock<std::mutex> lock(mutex_);
				changed_.wait(lock, [&] { return waiting_ || closing_; });
				if (!waiting_)
					return;
				frame = std::move(*waiting_);
				waiting_.reset();
				changed_.notify_all();
			}
			for (const File& f : frame)
			{
				std::string error;
				try
				{
					Progress own("writing " + vtnhost::platform::fileNameOf(f.path));
					Progress* shown = shown_.load();
					if (makeFolderFor(f.path, &error) && writePosedObj(sources_[f.source], f.points, f.path, &error, shown ? shown : &own, &text))
					{
						++written_;
						continue;
					}
					if (Progress::stopRequested())
					{
						std::lock_guard<std::mutex> lock(mutex_);
						stopped_ = true;
						changed_.notify_all();
						return;
					}
				}
				catch (const std::bad_alloc&)
				{
					error = f.path + ": memory ran out while writing it";
				}
				catch (const std::exception& e)
				{
					// Anything else thrown here would end the program from this thread.
					error = f.path + ": " + e.what();
				}
				std::lock_guard<std::mutex> lock(mutex_);
				failure_ = error;
				changed_.notify_all();
				return;
			}
		}
	}

	const std::vector<ObjMesh>& sources_;
	std::mutex mutex_;
	std::condition_variable changed_;
	std::optional<std::vector<File>> waiting_;
	std::optional<std::string> failure_;
	bool closing_ = false;
	bool stopped_ = false;  // by Ctrl-C, with what was handed over left unwritten
	std::atomic<size_t> written_{0};
	std::atomic<Progress*> shown_{nullptr};  // the step's, once one waits for the writing
	std::thread thread_;  // last: it starts once everything above is ready
};

int fail(const Failure& f)
{
	std::fprintf(stderr, "error: %s\n", f.message.c_str());
	return 1;
}

}  // namespace

bool parseFrames(const std::string& text, long long* first, long long* last, long long* step)
{
	// The whole text must be read ("1-5:abc" is a mistake, not a step of 1),
	// and a number too large for 64 bits is refused, never cut to one that fits.
	const char* t = text.data();
	const char* const end = t + text.size();
	auto number = [&](long long* v) {
		const std::from_chars_result r = std::from_chars(t, end, *v);
		if (r.ec != std::errc())
			return false;
		t = r.ptr;
		return true;
	};
	*step = 1;
	if (!number(first) || t == end || *t++ != '-' || !number(last))
		return false;
	if (t != end && *t == ':' && (++t, !number(step)))
		return false;
	return t == end && *first <= *last && *step > 0;
}

int runBind(const CommonOptions& c, const BindOptions& o)
{
	try
	{
		StepRunner steps(c.quiet);
		RunFiles files;
		const ObjMesh cage = readCage(c, steps, files, o.cage, o.force);
		std::vector<ObjMesh> meshes;
		for (const std::string& m : o.meshes)
			meshes.push_back(readMesh(steps, files, "--mesh", m));
		files.output("-o", o.out);
		CliHost h(c.plugin, c.quiet, c.threads);
		CliHost::Scene s = h.buildScene(cage, meshes);
		const double seconds = bindScene(c, h, s, o.insideOnly, o.force);
		const auto saving = std::chrono::steady_clock::now();
		std::string error;
		vtnhost::Thread thread;
		vtnhost::FileStatus saved_as = vtnhost::FileStatus::failed;
		if (!makeFolderFor(o.out, &error))
			throw Failure{error};
		try
		{
			h.steps().run("saving " + vtnhost::platform::fileNameOf(o.out),
			              [&](Progress&) { saved_as = h.host().saveDocument(s.doc, o.out, &error, &thread); }, StopBy::Itself, &thread);
		}
		catch (const Interrupted& i)
		{
			// Ctrl-C in the last moments of a save comes after the file is whole.
			if (saved_as == vtnhost::FileStatus::done)
				return reportInterrupted(i.step, o.out + " was saved whole before it stopped");
			throw;
		}
		if (saved_as != vtnhost::FileStatus::done)
			throw Failure{error};
		const double saved = std::chrono::duration<double>(std::chrono::steady_clock::now() - saving).count();
		// Names are added whole: a long path must not cut the line short.
		char bound[64], took[32];
		std::snprintf(bound, sizeof bound, "bound %zu mesh%s to ", meshes.size(), meshes.size() == 1 ? "" : "es");
		std::snprintf(took, sizeof took, " in %.2f s", seconds);
		const std::string binding = bound + s.cage->name + took + ", memory " + memoryText(s.deformer);
		std::snprintf(took, sizeof took, " in %.2f s", saved);
		say(c, binding + "; saved " + o.out + took);
		return 0;
	}
	catch (const Interrupted& i)
	{
		return reportInterrupted(i.step, "nothing was written");
	}
	catch (const Failure& f)
	{
		return fail(f);
	}
	catch (const std::bad_alloc&)
	{
		return fail(Failure{"memory ran out: the tool could not allocate what it needed"});
	}
}

int runDeform(const CommonOptions& c, const DeformOptions& o)
{
	try
	{
		// Every input is checked, and every posed file read, before anything is
		// bound or written: a sequence has as many posed cages as frames, each a
		// file that must exist, so their names are listed; the outputs are
		// checked through their pattern (see RunFiles::outputs). The posed
		// cages are read once the cage tells how large they can be.
		StepRunner steps(c.quiet);
		RunFiles files;
		if (!o.scene.empty())
			files.input("--scene", o.scene, RunFiles::Use::fileOnly);
		if (!o.weights.empty())
			files.input("--weights", o.weights, RunFiles::Use::streamable);
		const NamePattern out("-o", o.out);
		FrameRange frames(1, static_cast<long long>(o.posed.size()), 1);
		std::optional<NamePattern> posedPattern;
		if (!o.frames.empty())
		{
			long long first, last, step;
			if (o.posed.size() != 1 || !parseFrames(o.frames, &first, &last, &step))
				throw Failure{"--frames needs A-B[:STEP] and one --posed pattern with {frame}"};
			frames = FrameRange(first, last, step);
			posedPattern.emplace("--posed", o.posed[0], false);
		}
		std::vector<std::string> posedPaths;
		for (uint64_t i = 0; i < frames.count(); ++i)
		{
			posedPaths.push_back(posedPattern ? posedPattern->fill("", frames.at(i)) : o.posed[i]);
			files.input("--posed", posedPaths.back(), RunFiles::Use::streamable);
		}

		CliHost h(c.plugin, c.quiet, c.threads);
		CliHost::Scene s;
		if (!o.scene.empty())
			s = loadBoundScene(h, o.scene);
		else
		{
			const ObjMesh cage = readCage(c, steps, files, o.cage, o.force);
			std::vector<ObjMesh> meshes;
			for (const std::string& m : o.meshes)
				meshes.push_back(readMesh(steps, files, "--mesh", m));
			s = h.buildScene(cage, meshes);
		}
		std::vector<std::string> meshNames;
		for (const vtnhost::Object* m : s.meshes)
			meshNames.push_back(m->name);
		files.outputs("-o", out, meshNames, frames);
		std::vector<ObjMesh> posed;
		const uint64_t posedLimit = posedCageBytes(s.cage->points.size());
		for (const std::string& p : posedPaths)
		{
			const uint64_t size = vtnhost::platform::inspect(p).size;
			if (size > posedLimit)
				throw Failure{"--posed " + p + ": " + std::to_string(size) + " bytes, more than a posed cage of " +
				              std::to_string(s.cage->points.size()) + " points takes (" + std::to_string(posedLimit) + " at most)"};
			posed.push_back(readMesh(steps, files, "--posed", p, posedLimit));
			if (posed.back().points.size() != s.cage->points.size())
				throw Failure{p + ": " + std::to_string(posed.back().points.size()) + " points, but the cage has " +
				              std::to_string(s.cage->points.size())};
		}
		if (o.scene.empty())
			bindScene(c, h, s, o.insideOnly, o.force);
		if (o.strength)
			s.deformer->container().entries[MORVEX_STRENGTH] = vtnhost::Value::Real(*o.strength);
		if (o.stretch)
			s.deformer->container().entries[MORVEX_STRETCH] = vtnhost::Value::Real(*o.stretch);
		if (!o.weights.empty())
		{
			if (s.meshes.size() != 1)
				throw Failure{o.weights + ": weights apply to a single mesh"};
			// Nothing is written yet, and a pipe's read cannot be broken: Ctrl-C ends the tool.
			std::vector<float> weights;
			steps.run("reading " + vtnhost::platform::fileNameOf(o.weights),
			          [&](Progress&) { weights = readWeightsFile(o.weights, s.meshes[0]->points.size()); }, StopBy::Abandon);
			s.deformer->restrictions[s.meshes[0]->id()] = std::move(weights);
		}
		std::vector<ObjMesh> sources;
		for (vtnhost::Object* m : s.meshes)
			sources.push_back(sourceOf(m));
		FrameWriter writer(sources);
		try
		{
			for (size_t i = 0; i < posed.size(); ++i)
			{
				s.cage->points = posed[i].points;
				s.cage->setDirty(DIRTYFLAGS_DATA);
				h.evaluate(s.doc, "deforming " + vtnhost::platform::fileNameOf(posedPaths[i]));
				std::vector<FrameWriter::File> frame;
				for (size_t k = 0; k < s.meshes.size(); ++k)
				{
					const vtnhost::Object* m = s.meshes[k];
					frame.push_back({k, out.fill(m->name, frames.at(i)), deformedPoints(m)});
					requireFinite(frame.back().points, m->name, posedPaths[i]);
				}
				writer.put(std::move(frame));
			}
			h.steps().run("writing " + vtnhost::platform::fileNameOf(o.out), [&](Progress& p) { writer.finish(&p); });
		}
		catch (const Interrupted& i)
		{
			// The files written are whole; the one being written when Ctrl-C came is left out.
			writer.close();
			return reportInterrupted(i.step, "stopped after " + std::to_string(writer.written()) + " files, each whole");
		}
		const size_t written = writer.written();
		say(c, "wrote " + std::to_string(written) + " file" + (written == 1 ? "" : "s"));
		return 0;
	}
	catch (const Interrupted& i)
	{
		return reportInterrupted(i.step, "nothing was written");
	}
	catch (const Failure& f)
	{
		return fail(f);
	}
	catch (const std::bad_alloc&)
	{
		return fail(Failure{"memory ran out: the tool could not allocate what it needed"});
	}
}

int runCheck(const CommonOptions& c, const CheckOptions& o)
{
	try
	{
		StepRunner steps(c.quiet);
		RunFiles files;
		const ObjMesh cage = readCage(c, steps, files, o.cage, o.force, "checks");
		const ObjMesh mesh = readMesh(steps, files, "--mesh", o.mesh);
		if (!o.json.empty())
			files.output("--json", o.json);
		CliHost h(c.plugin, c.quiet, c.threads);
		CliHost::Scene s = h.buildScene(cage, {mesh});
		vtnhost::Object* m = s.meshes[0];
		if (o.safeDistance)
			s.deformer->container().entries[MORVEX_SAFE_DISTANCE] = vtnhost::Value::Real(*o.safeDistance);
		// The check triangulates nothing; the cage must be all triangles, as after a bind.
		s.cage->triangulate();
		vtnhost::setLink(s.deformer, MORVEX_CHECK_OBJECT, m);
		pressCheck(h, s, m);
		std::vector<Int32> selected;
		std::string tag;
		if (!m->tags.empty())
		{
			tag = m->tags.front()->name;
			selected.assign(m->tags.front()->select.indices.begin(), m->tags.front()->select.indices.end());
		}
		const bool outside = tag == "Points outside";
		std::ostringstream line;
		if (outside)
		{
			// Numbered as the OBJ numbers its vertices, from 1; the JSON report keeps indices from 0.
			line << selected.size() << " of " << m->points.size() << " points lie outside the cage; first:";
			for (size_t i = 0; i < selected.size() && i < 10; ++i)
				line << ' ' << selected[i] + 1;
		}
		else
			line << "no point lies outside the cage; " << selected.size() << " lie within the safe distance "
			     << s.deformer->container().find(MORVEX_SAFE_DISTANCE)->r;
		say(c, line.str());
		if (!o.json.empty())
		{
			nlohmann::json report = {{"mesh", o.mesh},
			                         {"cage", o.cage},
			                         {"points", m->points.size()},
			                         {"outside", outside},
			                         {"tag", tag.empty() ? nlohmann::json(nullptr) : nlohmann::json(tag)},
			                         {"selected", selected}};
			std::string error;
			if (!makeFolderFor(o.json, &error) || !writeFileAtomic(o.json, report.dump(2) + "\n", &error))
				throw Failure{error};
		}
		return outside && o.failOutside ? kExitOutside : kExitSuccess;
	}
	catch (const Interrupted& i)
	{
		return reportInterrupted(i.step, "nothing was written");
	}
	catch (const Failure& f)
	{
		return fail(f);
	}
	catch (const std::bad_alloc&)
	{
		return fail(Failure{"memory ran out: the tool could not allocate what it needed"});
	}
}

int runInfo(const CommonOptions& c, const std::string& scene)
{
	try
	{
		RunFiles().input("scene", scene, RunFiles::Use::fileOnly);
		CliHost h(c.plugin, true);
		std::string error;
		// The weights are passed over: the deformer tells their size from its counts.
		vtnhost::Document* doc = loadScene(h, scene, &error, true);
		if (!doc)
			throw Failure{error};
		for (const std::string& e : h.host().errors())
			std::fprintf(stderr, "warning: %s\n", e.c_str());
		CliHost::Scene s = h.findScene(doc, scene);
		std::printf("%s", describeDeformer(*s.deformer, scene).c_str());
		return 0;
	}
	catch (const Interrupted& i)
	{
		return reportInterrupted(i.step, "nothing was shown");
	}
	catch (const Failure& f)
	{
		return fail(f);
	}
	catch (const std::bad_alloc&)
	{
		return fail(Failure{"memory ran out: the tool could not allocate what it needed"});
	}
}

}  // namespace mvx
