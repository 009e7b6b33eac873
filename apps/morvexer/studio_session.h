// The scene the studio poses: bound (or loaded) once at start, then deformed
// by the real module for every pose the page sends, one evaluation at a time.
// Positions cross the wire as little-endian float32, x y z per point.
#ifndef MORVEXER_STUDIO_SESSION_H
#define MORVEXER_STUDIO_SESSION_H

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "cli_host.h"
#include "commands.h"
#include "obj_io.h"

namespace mvx {

struct StudioOptions
{
	std::string cage;  // with meshes: bind at start
	std::vector<std::string> meshes;
	std::string scene;  // or: a scene saved by bind
	std::string posed;  // the pose to start from (default: the rest, or the scene's cage)
	std::string out = "morvexer-studio";
	int port = 0;  // 0: any free port
};

// An answer for the page: a status with a one-line reason, or 200 with its body.
struct Reply
{
	int status = 200;
	std::string body;
	std::string type = "text/plain; charset=utf-8";
	double evaluateMs = -1;  // the evaluation's wall-clock time, when there was one
};

// Strength and stretch as the page sends them (query text); absent: unchanged.
struct Blend
{
	std::optional<std::string> strength, stretch;
};

class StudioSession
{
public:
	// Loads the plug-in, binds or loads the scene, checks which points lie
	// outside the cage and poses it; throws Failure.
	StudioSession(const CommonOptions& common, const StudioOptions& options);
	~StudioSession();
	StudioSession(const StudioSession&) = delete;
	StudioSession& operator=(const StudioSession&) = delete;

	// Fixed from the start on, so any thread may read them.
	const std::string& folder() const { return folder_; }  // the out folder, absolute
	const std::string& sceneJson() const { return sceneJson_; }
	const std::string& outsideJson() const { return outsideJson_; }
	size_t meshCount() const { return triangles_.size(); }
	const std::string& triangles(size_t mesh) const { return triangles_[mesh]; }  // uint32, 3 a triangle
	const std::string& restPoints(size_t mesh) const { return restPoints_[mesh]; }
	const std::string& restCage() const { return restCage_; }
	size_t cagePointCount() const { return cagePoints_; }
	// The largest request body taken; room for a pose, or a cage's OBJ text.
	size_t maxBody() const;

	// One at a time, each whole: a refused request changes nothing.
	Reply pose() const;
	// Poses the cage (a float32 body), evaluates, answers every mesh's deformed points in order.
	Reply deform(const std::string& body, const Blend& blend);
	// Poses and evaluates as deform, then writes the posed cage, the deformed
	// meshes and the scene into the out folder, each under a name made here.
	Reply save(const std::string& body, const Blend& blend);
	// The points of a posed cage's OBJ text, as float32; changes nothing.
	Reply loadPose(const std::string& text) const;

private:
	void apply(const std::vector<LVector>& pose, double strength, double stretch);
	// Reads a request's pose and settings and applies them; false with the
	// reason, and nothing changed, when either is malformed. With mutex_ held.
	bool applyRequest(const std::string& body, const Blend& blend, std::string* why);
	std::string deformedBytes() const;
	bool readSettings(const Blend& blend, double* strength, double* stretch, std::string* why) const;

	CommonOptions common_;
	std::string out_;
	std::string folder_;  // out_ as an absolute path, as the page and the log show it
	std::unique_ptr<CliHost> host_;
	CliHost::Scene scene_;
	std::vector<ObjMesh> sources_;      // each mesh's OBJ, what its poses are written over
	ObjMesh cageSource_;                // the rest cage's file, when bound from one
	std::vector<std::vector<Int32>> cageFaces_;
	size_t cagePoints_ = 0;
	std::string sceneJson_, outsideJson_, restCage_;
	std::vector<std::string> triangles_, restPoints_;

	mutable std::mutex mutex_;  // the scene below and the host's evaluation
	std::vector<LVector> pose_;
	double strength_ = 1.0, stretch_ = 100.0;
};

// A body of float32 triples as points; false with a one-line reason when the
// byte count is not that of `count` points or a number is not finite.
bool readPose(const std::string& body, size_t count, std::vector<LVector>* out, std::string* why);

}  // namespace mvx

#endif
