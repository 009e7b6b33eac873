#include "studio_session.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <limits>
#include <optional>
#include <nlohmann/json.hpp>

#include "command_steps.h"
#include "scene_info.h"
#include "vtnhost/actions.h"
#include "vtnhost/platform.h"

namespace fs = std::filesystem;

namespace mvx {
namespace {

// The page reads the machine's bytes as little-endian float32; platform.h holds the byte order.
static_assert(sizeof(float) == 4 && std::numeric_limits<float>::is_iec559, "float32 on the wire");

void appendFloats(std::string* out, const std::vector<LVector>& points)
{
	const size_t at = out->size();
	out->resize(at + points.size() * 12);
	char* p = &(*out)[at];
	for (const LVector& v : points)
	{
		const float xyz[3] = {static_cast<float>(v.x), static_cast<float>(v.y), static_cast<float>(v.z)};
		std::memcpy(p, xyz, 12);
		p += 12;
	}
}

// The page holds positions as float32; the server keeps the same values, so
// what it deforms, saves and shows is exactly what the page sent.
bool toSingle(std::vector<LVector>* points, std::string* why, const std::string& what)
{
	for (size_t i = 0; i < points->size(); ++i)
	{
		LVector& p = (*points)[i];
		const float x = static_cast<float>(p.x), y = static_cast<float>(p.y), z = static_cast<float>(p.z);
		if (!std::isfinite(x) || !std::isfinite(y) || !std::isfinite(z))
		{
			*why = what + ": point " + std::to_string(i + 1) + " lies beyond the range of single precision";
			return false;
		}
		p = {x, y, z};
	}
	return true;
}

bool readNumber(const std::string& text, double* value)
{
	const char* first = text.data();
	const char* last = first + text.size();
	double v = 0;
	const std::from_chars_result r = std::from_chars(first, last, v);
	if (first == last || r.ec != std::errc() || r.ptr != last || !std::isfinite(v))
		return false;
	*value = v;
	return true;
}

// A name of the scene's, fit to be part of a file name in the out folder.
std::string fileStem(const std::string& name)
{
	std::string s;
	for (const char ch : name.substr(0, 64))
		s += (std::isalnum(static_cast<unsigned char>(ch)) || ch == '-' || ch == '_' || ch == '.') ? ch : '_';
	s.erase(0, s.find_first_not_of('.'));
	return s.empty() ? "mesh" : s;
}

// One more than the highest "pose-N" already in the folder, so saves never
// overwrite; none when that number would wrap round to one in use.
std::optional<uint64_t> nextSaveNumber(const std::string& folder)
{
	uint64_t highest = 0;
	std::error_code ec;
	for (fs::directory_iterator it(vtnhost::platform::fsPath(folder), ec), end; !ec && it != end; it.increment(ec))
	{
		const std::string name = it->path().filename().string();
		if (name.compare(0, 5, "pose-") != 0)
			continue;
		uint64_t n = 0;
		const char* first = name.data() + 5;
		const std::from_chars_result r = std::from_chars(first, name.data() + name.size(), n);
		if (r.ec == std::errc() && r.ptr != first)
			highest = std::max(highest, n);
	}
	if (highest == UINT64_MAX)
		return std::nullopt;
	return highest + 1;
}

Reply refuse(int status, const std::string& why) { return {status, why + "\n"}; }

std::vector<std::vector<Int32>> facesOf(const vtnhost::Object* op)
{
	std::vector<std::vector<Int32>> faces;
	for (const CPolygon& f : op->polygons)
		faces.push_back(f.c == f.d ? std::vector<Int32>{f.a, f.b, f.c} : std::vector<Int32>{f.a, f.b, f.c, f.d});
	return faces;
}

}  // namespace

bool readPose(const std::string& body, size_t count, std::vector<LVector>* out, std::string* why)
{
	if (body.size() != count * 12)
	{
		*why = "the pose has " + std::to_string(body.size()) + " bytes, but the cage's " + std::to_string(count) +
		       " points take 12 each (" + std::to_string(count * 12) + ")";
		return false;
	}
	static const char* const kAxis[3] = {"x", "y", "z"};
	std::vector<LVector> pose(count);
	for (size_t i = 0; i < count; ++i)
	{
		float xyz[3];
		std::memcpy(xyz, body.data() + i * 12, 12);
		for (int k = 0; k < 3; ++k)
			if (!std::isfinite(xyz[k]))
			{
				*why = "point " + std::to_string(i + 1) + ": " + kAxis[k] + " is not a finite number";
				return false;
			}
		pose[i] = {xyz[0], xyz[1], xyz[2]};
	}
	*out = std::move(pose);
	return true;
}

StudioSession::StudioSession(const CommonOptions& c, const StudioOptions& o) : common_(c), out_(o.out)
{
	// The studio writes only inside its folder, with names it makes: its
	// inputs are checked as a run's are, and read as steps Ctrl-C stops.
	StepRunner steps(c.quiet);
	RunFiles files;
	std::error_code ec;
	fs::create_directories(vtnhost::platform::fsPath(out_), ec);
	if (ec || !vtnhost::platform::isDirectory(out_))
		throw Failure{out_ + ": cannot make the folder" + (ec ? ": " + ec.message() : std::string())};
	folder_ = fs::absolute(vtnhost::platform::fsPath(out_)).lexically_normal().string();

	std::optional<double> bindSeconds;
	std::vector<LVector> start;
	if (!o.scene.empty())
	{
		host_ = std::make_unique<CliHost>(c.plugin, c.quiet, c.threads);
		files.input("--scene", o.scene, RunFiles::Use::fileOnly);
		scene_ = loadBoundScene(*host_, o.scene);
		// The scene keeps the pose it was saved in; the binding keeps the rest.
		start = scene_.cage->points;
		vtnhost::pressButton(scene_.deformer, MORVEX_RESTORE_CAGE);
		cageFaces_ = facesOf(scene_.cage);
	}
	else
	{
		cageSource_ = readCage(c, steps, files, o.cage, false);
		std::vector<ObjMesh> meshes;
		for (const std::string& m : o.meshes)
			meshes.push_back(readMesh(steps, files, "--mesh", m));
		host_ = std::make_unique<CliHost>(c.plugin, c.quiet, c.threads);
		scene_ = host_->buildScene(cageSource_, meshes);
		bindSeconds = bindScene(c, *host_, scene_, false, false);
		start = scene_.cage->points;
		cageFaces_ = cageSource_.faces;
	}
	const std::vector<LVector> rest = scene_.cage->points;
	cagePoints_ = rest.size();
	// Read once the cage tells how large a pose of it can be.
	std::optional<ObjMesh> posed;
	if (!o.posed.empty())
		posed = readMesh(steps, files, "--posed", o.posed, posedCageBytes(cagePoints_));
	if (posed)
	{
		if (posed->points.size() != cagePoints_)
			throw Failure{o.posed + ": " + std::to_string(posed->points.size()) + " points, but the cage has " + std::to_string(cagePoints_)};
		start = posed->points;
	}
	std::string why;
	if (!toSingle(&start, &why, o.posed.empty() ? "the cage" : o.posed))
		throw Failure{why};

	// Outside the cage at rest, by the deformer's own check.
	nlohmann::json outside = {{"total", 0}, {"meshes", nlohmann::json::array()}};
	size_t total = 0, points = 0;
	for (vtnhost::Object* m : scene_.meshes)
	{
		std::vector<Int32> indices;
		const size_t count = countOutside(*host_, scene_, m, &indices, std::numeric_limits<size_t>::max());
		total += count;
		outside["meshes"].push_back({{"count", count}, {"indices", indices}});
	}
	outside["total"] = total;
	outsideJson_ = outside.dump();

	const auto& params = scene_.deformer->container();
	if (const vtnhost::Value* v = params.find(MORVEX_STRENGTH))
		strength_ = v->r;
	if (const vtnhost::Value* v = params.find(MORVEX_STRETCH))
		stretch_ = v->r;

	nlohmann::json meshes = nlohmann::json::array();
	for (const vtnhost::Object* m : scene_.meshes)
	{
		sources_.push_back(sourceOf(m));
		std::vector<uint32_t> tris;
		for (const CPolygon& f : m->polygons)
		{
			tris.insert(tris.end(), {uint32_t(f.a), uint32_t(f.b), uint32_t(f.c)});
			if (f.c != f.d)
				tris.insert(tris.end(), {uint32_t(f.a), uint32_t(f.c), uint32_t(f.d)});
		}
		triangles_.emplace_back(reinterpret_cast<const char*>(tris.data()), tris.size() * sizeof(uint32_t));
		restPoints_.emplace_back();
		appendFloats(&restPoints_.back(), m->points);
		points += m->points.size();
		meshes.push_back({{"name", m->name}, {"points", m->points.size()}, {"triangles", tris.size() / 3}});
	}
	appendFloats(&restCage_, rest);

	nlohmann::json scene = {
		{"cage", {{"name", scene_.cage->name}, {"points", cagePoints_}, {"faces", cageFaces_}}},
		{"meshes", meshes},
		{"figures",
		 {{"points", points},
		  {"cagePoints", cagePoints_},
		  {"cageFaces", scene_.cage->polygons.size()},
		  {"memory", memoryText(scene_.deformer)},
		  {"bindSeconds", bindSeconds ? nlohmann::json(*bindSeconds) : nlohmann::json(nullptr)}}},
		{"strength", strength_},
		{"stretch", stretch_},
		{"maxBody", maxBody()},
		{"out", folder_},
	};
	sceneJson_ = scene.dump();

	pose_ = start;
	apply(pose_, strength_, stretch_);
}

StudioSession::~StudioSession() = default;

size_t StudioSession::maxBody() const { return std::max<size_t>(size_t(1) << 20, cagePoints_ * 256); }

void StudioSession::apply(const std::vector<LVector>& pose, double strength, double stretch)
{
	auto& params = scene_.deformer->container().entries;
	params[MORVEX_STRENGTH] = vtnhost::Value::Real(strength);
	params[MORVEX_STRETCH] = vtnhost::Value::Real(stretch);
	scene_.cage->points = pose;
	scene_.cage->setDirty(DIRTYFLAGS_DATA);
	host_->host().evaluate(scene_.doc);
	pose_ = pose;
	strength_ = strength;
	stretch_ = stretch;
}

std::string StudioSession::deformedBytes() const
{
	std::string out;
	for (const vtnhost::Object* m : scene_.meshes)
		appendFloats(&out, deformedPoints(m));
	return out;
}

bool StudioSession::readSettings(const Blend& blend, double* strength, double* stretch, std::string* why) const
{
	if (blend.strength && (!readNumber(*blend.strength, strength) || *strength < 0 || *strength > 1))
	{
		*why = "strength '" + blend.strength->substr(0, 40) + "' is not a number from 0 to 1";
		return false;
	}
	if (blend.stretch && (!readNumber(*blend.stretch, stretch) || *stretch < 0))
	{
		*why = "stretch '" + blend.stretch->substr(0, 40) + "' is not a number from 0 up";
		return false;
	}
	return true;
}

Reply StudioSession::pose() const
{
	std::lock_guard<std::mutex> lock(mutex_);
	Reply r;
	appendFloats(&r.body, pose_);
	r.type = "application/octet-stream";
	return r;
}

bool StudioSession::applyRequest(const std::string& body, const Blend& blend, std::string* why)
{
	std::vector<LVector> pose;
	double strength = strength_, stretch = stretch_;
	if (!readPose(body, cagePoints_, &pose, why) || !readSettings(blend, &strength, &stretch, why))
		return false;
	apply(pose, strength, stretch);
	return true;
}

Reply StudioSession::deform(const std::string& body, const Blend& blend)
{
	std::lock_guard<std::mutex> lock(mutex_);
	std::string why;
	const auto start = std::chrono::steady_clock::now();
	if (!applyRequest(body, blend, &why))
		return refuse(400, why);
	Reply r;
	r.evaluateMs = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
	r.body = deformedBytes();
	r.type = "application/octet-stream";
	return r;
}

Reply StudioSession::save(const std::string& body, const Blend& blend)
{
	std::lock_guard<std::mutex> lock(mutex_);
	std::string why;
	if (!applyRequest(body, blend, &why))
		return refuse(400, why);

	const std::optional<uint64_t> number = nextSaveNumber(out_);
	if (!number)
		return refuse(409, "the folder holds a save numbered as high as a number goes; move it away to save again");
	char prefix[40];
	std::snprintf(prefix, sizeof prefix, "pose-%03llu", static_cast<unsigned long long>(*number));
	nlohmann::json files = nlohmann::json::array();
	const auto in = [&](const std::string& name) { return vtnhost::platform::joinPath(out_, name); };
	try
	{
		std::string error;
		// A cage read from a file is written as that file posed; one from a scene has no file to keep.
		const std::string cageName = std::string(prefix) + "-cage.obj";
		const bool written = cageSource_.text.empty()
		                         ? writeFileAtomic(in(cageName), objText(pose_, cageFaces_, "posed cage of " + scene_.cage->name + ", saved by morvexer studio"), &error)
		                         : writePosedObj(cageSource_, pose_, in(cageName), &error);
		if (!written)
			throw Failure{error};
		files.push_back(cageName);
		std::vector<std::string> used;
		for (size_t k = 0; k < scene_.meshes.size(); ++k)
		{
			std::string stem = fileStem(scene_.meshes[k]->name);
			for (int n = 2; std::find(used.begin(), used.end(), stem) != used.end(); ++n)
				stem = fileStem(scene_.meshes[k]->name) + "-" + std::to_string(n);
			used.push_back(stem);
			const std::string name = std::string(prefix) + "-mesh-" + stem + ".obj";
			if (!writePosedObj(sources_[k], deformedPoints(scene_.meshes[k]), in(name), &error))
				throw Failure{error};
			files.push_back(name);
		}
		const std::string name = std::string(prefix) + ".vtn";
		if (host_->host().saveDocument(scene_.doc, in(name), &error) != vtnhost::FileStatus::done)
			throw Failure{error};
		files.push_back(name);
	}
	catch (const Failure& f)
	{
		return refuse(500, f.message);
	}
	if (!common_.quiet)
	{
		std::string names;
		for (const auto& f : files)
			names += (names.empty() ? "" : ", ") + f.get<std::string>();
		std::printf("saved %s into %s\n", names.c_str(), folder_.c_str());
		std::fflush(stdout);
	}
	Reply r;
	r.body = nlohmann::json{{"folder", folder_}, {"files", files}}.dump();
	r.type = "application/json";
	return r;
}

Reply StudioSession::loadPose(const std::string& text) const
{
	ObjMesh posed;
	std::string why;
	if (!parseObj("the posed cage", text, &posed, &why))
		return refuse(400, why);
	if (posed.points.size() != cagePoints_)
		return refuse(400, "the posed cage has " + std::to_string(posed.points.size()) + " points, but the cage has " +
		                       std::to_string(cagePoints_));
	if (!toSingle(&posed.points, &why, "the posed cage"))
		return refuse(400, why);
	Reply r;
	appendFloats(&r.body, posed.points);
	r.type = "application/octet-stream";
	return r;
}

}  // namespace mvx
