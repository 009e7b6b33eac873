#include "commands.h"
#include "vtnhost/actions.h"

#include <atomic>
#include <chrono>
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
#include "scene_info.h"
#include "vtnhost/platform.h"

namespace mvx {
namespace {

void say(const CommonOptions& c, const std::string& line)
{
	if (!c.quiet)
		std::printf("%s\n", line.c_str());
}

}  // namespace

ObjMesh readMesh(const std::string& path)
{
	ObjMesh m;
	std::string error;
	if (!readObj(path, &m, &error))
		throw Failure{error};
	return m;
}

ObjMesh readCage(const CommonOptions& c, const std::string& path, bool force)
{
	ObjMesh cage = readMesh(path);
	const CageReport report = checkCage(cage.points, cage.faces);
	if (!report.ok)
	{
		if (!force)
			throw Failure{path + ": " + report.problem + " (--force binds anyway)"};
		std::fprintf(stderr, "warning: %s: %s; binding anyway\n", path.c_str(), report.problem.c_str());
	}
	if (report.inward)
	{
		reverseFaces(&cage.faces);
		if (!c.quiet)
			std::fprintf(stderr, "warning: %s: the faces point inward; turned outward (points unchanged)\n", path.c_str());
	}
	return cage;
}

size_t countOutside(CliHost::Scene& s, vtnhost::Object* mesh, std::vector<Int32>* first, size_t keep)
{
	auto& params = s.deformer->container().entries;
	const vtnhost::Value saved = params.count(MORVEX_SAFE_DISTANCE) ? params[MORVEX_SAFE_DISTANCE] : vtnhost::Value::Real(0.1);
	params[MORVEX_SAFE_DISTANCE] = vtnhost::Value::Real(0.0);
	vtnhost::setLink(s.deformer, MORVEX_CHECK_OBJECT, mesh);
	const size_t before = mesh->tags.size();
	vtnhost::pressButton(s.deformer, MORVEX_CHECK);
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
		const size_t out = countOutside(s, m);
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
	if (!h.evaluate(s.doc))
		throw Failure{"cancelled: the bind was stopped; nothing was written"};
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

CliHost::Scene loadBoundScene(CliHost& h, const std::string& path)
{
	std::string error;
	vtnhost::Document* doc = h.host().loadDocument(path, &error);
	if (!doc)
		throw Failure{error};
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
		changed_.wait(lock, [&] { return !waiting_ || failure_; });
		if (failure_)
			throw Failure{*failure_};
		waiting_ = std::move(frame);
		changed_.notify_all();
	}

	// Writes what was handed over and stops; throws the writer's failure.
	void finish()
	{
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
					if (writePosedObj(sources_[f.source], f.points, f.path, &error))
					{
						++written_;
						continue;
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
	std::atomic<size_t> written_{0};
	std::thread thread_;  // last: it starts once everything above is ready
};

std::vector<float> readWeights(const std::string& path, size_t count)
{
	std::ifstream in(path);
	if (!in)
		throw Failure{path + ": no such file"};
	std::vector<float> w;
	std::string token;
	while (in >> token)
	{
		char* end = nullptr;
		const float v = std::strtof(token.c_str(), &end);
		if (!end || *end)
			throw Failure{path + ": '" + token + "' is not a number"};
		w.push_back(v);
	}
	if (w.size() != count)
		throw Failure{path + ": " + std::to_string(w.size()) + " weights for " + std::to_string(count) + " points"};
	return w;
}

int fail(const Failure& f)
{
	std::fprintf(stderr, "error: %s\n", f.message.c_str());
	return 1;
}

}  // namespace

std::string expandPattern(const std::string& pattern, const std::string& mesh, long frame)
{
	std::string out;
	for (size_t i = 0; i < pattern.size();)
	{
		if (pattern.compare(i, 6, "{mesh}") == 0)
		{
			out += mesh;
			i += 6;
		}
		else if (pattern.compare(i, 6, "{frame") == 0 && pattern.find('}', i) != std::string::npos)
		{
			const size_t close = pattern.find('}', i);
			const std::string format = pattern.substr(i + 6, close - i - 6);
			int width = 0;
			if (format.size() > 1 && format[0] == ':')
				width = std::atoi(format.c_str() + 1);
			char buf[32];
			std::snprintf(buf, sizeof buf, "%0*ld", width, frame);
			out += buf;
			i = close + 1;
		}
		else
			out += pattern[i++];
	}
	return out;
}

bool parseFrames(const std::string& text, long* first, long* last, long* step)
{
	*step = 1;
	char extra = 0;
	const int n = std::sscanf(text.c_str(), "%ld-%ld:%ld%c", first, last, step, &extra);
	return (n == 2 || n == 3) && *first <= *last && *step > 0;
}

int runBind(const CommonOptions& c, const BindOptions& o)
{
	try
	{
		const ObjMesh cage = readCage(c, o.cage, o.force);
		std::vector<ObjMesh> meshes;
		for (const std::string& m : o.meshes)
			meshes.push_back(readMesh(m));
		CliHost h(c.plugin, c.quiet, c.threads);
		CliHost::Scene s = h.buildScene(cage, meshes);
		const double seconds = bindScene(c, h, s, o.insideOnly, o.force);
		std::string error;
		if (!h.host().saveDocument(s.doc, o.out, &error))
			throw Failure{error};
		char line[256];
		std::snprintf(line, sizeof line, "bound %zu mesh%s to %s in %.2f s, memory %s; saved %s", meshes.size(),
		              meshes.size() == 1 ? "" : "es", s.cage->name.c_str(), seconds, memoryText(s.deformer).c_str(), o.out.c_str());
		say(c, line);
		return 0;
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
		// Every posed file is read and checked before anything is bound or written.
		std::vector<std::pair<long, std::string>> poses;
		if (!o.frames.empty())
		{
			long first, last, step;
			if (o.posed.size() != 1 || !parseFrames(o.frames, &first, &last, &step))
				throw Failure{"--frames needs A-B[:STEP] and one --posed pattern with {frame}"};
			for (long f = first; f <= last; f += step)
				poses.emplace_back(f, expandPattern(o.posed[0], "", f));
		}
		else
			for (size_t i = 0; i < o.posed.size(); ++i)
				poses.emplace_back(long(i + 1), o.posed[i]);
		std::vector<ObjMesh> posed;
		for (const auto& p : poses)
			posed.push_back(readMesh(p.second));

		CliHost h(c.plugin, c.quiet, c.threads);
		CliHost::Scene s;
		if (!o.scene.empty())
			s = loadBoundScene(h, o.scene);
		else
		{
			const ObjMesh cage = readCage(c, o.cage, o.force);
			std::vector<ObjMesh> meshes;
			for (const std::string& m : o.meshes)
				meshes.push_back(readMesh(m));
			s = h.buildScene(cage, meshes);
			bindScene(c, h, s, o.insideOnly, o.force);
		}
		for (size_t i = 0; i < posed.size(); ++i)
			if (posed[i].points.size() != s.cage->points.size())
				throw Failure{poses[i].second + ": " + std::to_string(posed[i].points.size()) + " points, but the cage has " +
				              std::to_string(s.cage->points.size())};
		const bool many = posed.size() > 1 || s.meshes.size() > 1;
		if (many && o.out.find("{mesh}") == std::string::npos && s.meshes.size() > 1)
			throw Failure{o.out + ": several meshes need {mesh} in the output name"};
		if (many && o.out.find("{frame") == std::string::npos && posed.size() > 1)
			throw Failure{o.out + ": several poses need {frame} in the output name"};
		if (o.strength)
			s.deformer->container().entries[MORVEX_STRENGTH] = vtnhost::Value::Real(*o.strength);
		if (o.stretch)
			s.deformer->container().entries[MORVEX_STRETCH] = vtnhost::Value::Real(*o.stretch);
		if (!o.weights.empty())
		{
			if (s.meshes.size() != 1)
				throw Failure{o.weights + ": weights apply to a single mesh"};
			s.deformer->restrictions[s.meshes[0]->id()] = readWeights(o.weights, s.meshes[0]->points.size());
		}
		std::vector<ObjMesh> sources;
		for (vtnhost::Object* m : s.meshes)
			sources.push_back(sourceOf(m));
		FrameWriter writer(sources);
		for (size_t i = 0; i < posed.size(); ++i)
		{
			s.cage->points = posed[i].points;
			s.cage->setDirty(DIRTYFLAGS_DATA);
			if (!h.evaluate(s.doc))
			{
				// The frames already deformed are written whole; nothing after them.
				writer.finish();
				throw Failure{"cancelled: stopped after " + std::to_string(writer.written()) + " files"};
			}
			std::vector<FrameWriter::File> frame;
			for (size_t k = 0; k < s.meshes.size(); ++k)
			{
				const vtnhost::Object* m = s.meshes[k];
				frame.push_back({k, expandPattern(o.out, m->name, poses[i].first), deformedPoints(m)});
			}
			writer.put(std::move(frame));
		}
		writer.finish();
		const size_t written = writer.written();
		say(c, "wrote " + std::to_string(written) + " file" + (written == 1 ? "" : "s"));
		return 0;
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
		const ObjMesh cage = readCage(c, o.cage, o.force);
		const ObjMesh mesh = readMesh(o.mesh);
		CliHost h(c.plugin, c.quiet, c.threads);
		CliHost::Scene s = h.buildScene(cage, {mesh});
		vtnhost::Object* m = s.meshes[0];
		if (o.safeDistance)
			s.deformer->container().entries[MORVEX_SAFE_DISTANCE] = vtnhost::Value::Real(*o.safeDistance);
		// The check triangulates nothing; the cage must be all triangles, as after a bind.
		s.cage->triangulate();
		vtnhost::setLink(s.deformer, MORVEX_CHECK_OBJECT, m);
		vtnhost::pressButton(s.deformer, MORVEX_CHECK);
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
			line << selected.size() << " of " << m->points.size() << " points lie outside the cage; first:";
			for (size_t i = 0; i < selected.size() && i < 10; ++i)
				line << ' ' << selected[i];
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
			if (!writeFileAtomic(o.json, report.dump(2) + "\n", &error))
				throw Failure{error};
		}
		return 0;
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
		CliHost h(c.plugin, true);
		std::string error;
		// The weights are passed over: the deformer tells their size from its counts.
		vtnhost::Document* doc = h.host().loadDocument(scene, &error, true);
		if (!doc)
			throw Failure{error};
		for (const std::string& e : h.host().errors())
			std::fprintf(stderr, "warning: %s\n", e.c_str());
		CliHost::Scene s = h.findScene(doc, scene);
		std::printf("%s", describeDeformer(*s.deformer, scene).c_str());
		return 0;
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
