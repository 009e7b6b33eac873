// The studio's server: the bundled page, and the API the page poses the cage with.
//
// It listens on 127.0.0.1 only. Every request must name 127.0.0.1:PORT as its
// Host (so no other name can be rebound onto it) and may carry no Origin but
// that one; every /api/ request must carry the token made at start, in the
// header X-Morvexer-Token or as ?token=. Bodies are capped. Positions and
// indices are little-endian: float32 x y z per point, uint32 per corner.
//
//   GET  /api/scene              JSON: cage {name, points, faces}, meshes [{name, points, triangles}],
//                                figures {points, cagePoints, cageFaces, memory, bindSeconds},
//                                strength, stretch, maxBody, out
//   GET  /api/outside            JSON: total, meshes [{count, indices}]: the points outside the cage at rest
//   GET  /api/cage/rest          float32: the cage at rest
//   GET  /api/cage/pose          float32: the pose last applied
//   GET  /api/mesh/I/triangles   uint32: mesh I's triangles
//   GET  /api/mesh/I/rest        float32: mesh I's points at rest
//   POST /api/deform?strength=T&stretch=G   float32 pose -> float32: every mesh's deformed points, in order;
//                                X-Morvexer-Evaluate-Ms: the evaluation's time
//   POST /api/save?strength=T&stretch=G     float32 pose -> JSON {folder, files}: pose-N-cage.obj,
//                                pose-N-mesh-NAME.obj, pose-N.vtn, written atomically into --out
//   POST /api/load-pose          OBJ text -> float32: its points, checked against the cage; changes nothing
//
// A refusal is a status and one line of text: 400 a malformed pose, number or
// body; 403 a wrong token, Host or Origin; 404 nothing there; 413 a body over the cap.
#include "studio.h"

#include <CLI/CLI.hpp>
#include <httplib.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <random>
#include <thread>

#include "options.h"
#include "steps.h"
#include "vtnhost/platform.h"

namespace fs = std::filesystem;

namespace mvx {
namespace {

using httplib::Request;
using httplib::Response;
using httplib::Server;

std::atomic<bool> stopRequested{false};
void onStop() { stopRequested = true; }

struct PageFile
{
	std::string body, type;
};

std::string mimeType(const std::string& path)
{
	static const std::map<std::string, std::string> kTypes = {
		{".html", "text/html; charset=utf-8"}, {".js", "text/javascript; charset=utf-8"}, {".css", "text/css; charset=utf-8"},
		{".png", "image/png"},                  {".svg", "image/svg+xml"},                 {".txt", "text/plain; charset=utf-8"},
		{".json", "application/json"},
	};
	const auto it = kTypes.find(fs::path(path).extension().string());
	return it == kTypes.end() ? "application/octet-stream" : it->second;
}

// Every regular file of the folder, read once: requests are answered from this
// map alone, so no path a request names can reach outside it.
std::map<std::string, PageFile> loadPage(const fs::path& folder)
{
	std::map<std::string, PageFile> files;
	std::error_code ec;
	for (fs::recursive_directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
	{
		if (it->symlink_status().type() != fs::file_type::regular)
			continue;
		std::string text, problem;
		if (!vtnhost::platform::readFile(it->path().string(), &text, &problem))
			throw Failure{it->path().string() + ": " + problem};
		const std::string name = "/" + it->path().lexically_relative(folder).generic_string();
		files[name] = {std::move(text), mimeType(name)};
	}
	for (const char* needed : {"/index.html", "/vendor/three.module.js"})
		if (!files.count(needed))
			throw Failure{folder.string() + ": the studio's page lacks " + std::string(needed + 1) +
			              " (run scripts/setup-web.sh, then build again)"};
	files["/"] = files["/index.html"];
	return files;
}

std::string makeToken()
{
	std::random_device random;
	std::string token;
	char hex[9];
	for (int i = 0; i < 4; ++i)
	{
		std::snprintf(hex, sizeof hex, "%08x", static_cast<unsigned>(random()));
		token += hex;
	}
	return token;
}

// Compares in a time that does not tell how much of the token was right.
bool sameToken(const std::string& given, const std::string& token)
{
	unsigned diff = given.size() != token.size();
	for (size_t i = 0; i < token.size(); ++i)
		diff |= static_cast<unsigned char>(i < given.size() ? given[i] : 0) ^ static_cast<unsigned char>(token[i]);
	return diff == 0;
}

// Every answer goes out as it stands. Given a body, the library compresses
// text for a client that accepts brotli, at brotli's best and slowest quality,
// on every request: seconds for three.js on a busy machine, for nothing on
// loopback. A body handed over through a provider is sent as it is.
void send(Response& res, std::shared_ptr<const std::string> body, const std::string& type)
{
	const size_t size = body->size();
	if (size == 0)
		return res.set_content("", type.c_str());
	res.set_content_provider(size, type, [body](size_t offset, size_t length, httplib::DataSink& sink) {
		return sink.write(body->data() + offset, length);
	});
}

// Data that outlives the server (the page, the session's fixed answers), sent without a copy.
void send(Response& res, const std::string& lasting, const std::string& type)
{
	send(res, std::shared_ptr<const std::string>(std::shared_ptr<const std::string>(), &lasting), type);
}

// A refusal: one line, set as the body, which tells the error handler that it has its reason.
void answer(Response& res, int status, const std::string& line)
{
	res.status = status;
	res.set_content(line + "\n", "text/plain; charset=utf-8");
}

// For the checks: fills res and answers false.
bool refuse(Response& res, int status, const std::string& line)
{
	answer(res, status, line);
	return false;
}

void answer(Response& res, Reply r)
{
	res.status = r.status;
	if (r.status >= 400)
		res.set_content(r.body, r.type.c_str());
	else
		send(res, std::make_shared<const std::string>(std::move(r.body)), r.type);
	if (r.evaluateMs >= 0)
		res.set_header("X-Morvexer-Evaluate-Ms", std::to_string(r.evaluateMs));
}

Blend blendOf(const Request& req)
{
	Blend b;
	if (req.has_param("strength"))
		b.strength = req.get_param_value("strength");
	if (req.has_param("stretch"))
		b.stretch = req.get_param_value("stretch");
	return b;
}

class StudioServer
{
public:
	StudioServer(StudioSession& session, std::map<std::string, PageFile> page) : session_(session), page_(std::move(page)) {}

	int bind(int port)
	{
		// The library's default adds SO_REUSEPORT, which would let a second
		// server (a second studio, or another program of this user) bind the
		// same port and take a share of the page's requests.
		server_.set_socket_options([](socket_t sock) {
			const int yes = 1;
			setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&yes), sizeof yes);
		});
		// Small answers go out at once instead of waiting on the last one's acknowledgement.
		server_.set_tcp_nodelay(true);
		if (port > 0)
			return server_.bind_to_port("127.0.0.1", port) ? port : -1;
		return server_.bind_to_any_port("127.0.0.1");
	}

	void setUp(int port, const std::string& token)
	{
		host_ = "127.0.0.1:" + std::to_string(port);
		origin_ = "http://" + host_;
		token_ = token;
		const size_t cap = session_.maxBody();
		server_.new_task_queue = [] { return new httplib::ThreadPool(12); };
		server_.set_payload_max_length(cap);
		// Short, so a stop waits little for idle connections.
		server_.set_keep_alive_timeout(2);
		server_.set_read_timeout(5);
		server_.set_default_headers({
			{"Cache-Control", "no-store"},
			{"X-Content-Type-Options", "nosniff"},
			{"Referrer-Policy", "no-referrer"},
			{"X-Frame-Options", "DENY"},
			{"Content-Security-Policy",
			 "default-src 'self'; script-src 'self'; style-src 'self'; img-src 'self' data: blob:; connect-src 'self'; "
			 "frame-ancestors 'none'; base-uri 'none'; form-action 'none'"},
		});
		server_.set_pre_routing_handler([this, cap](const Request& req, Response& res) {
			return admit(req, res, cap) ? Server::HandlerResponse::Unhandled : Server::HandlerResponse::Handled;
		});
		server_.set_exception_handler([](const Request&, Response& res, std::exception_ptr ep) {
			std::string why = "internal error";
			try
			{
				if (ep)
					std::rethrow_exception(ep);
			}
			catch (const std::exception& e)
			{
				why += std::string(": ") + e.what();
			}
			catch (...)
			{
			}
			answer(res, 500, why);
		});
		server_.set_error_handler([](const Request&, Response& res) {
			if (res.body.empty())
				answer(res, res.status, res.status == 404 ? "not found" : "refused");
		});

		server_.Get("/api/scene", [this](const Request&, Response& res) { send(res, session_.sceneJson(), "application/json"); });
		server_.Get("/api/outside", [this](const Request&, Response& res) { send(res, session_.outsideJson(), "application/json"); });
		server_.Get("/api/cage/rest", [this](const Request&, Response& res) { send(res, session_.restCage(), "application/octet-stream"); });
		server_.Get("/api/cage/pose", [this](const Request&, Response& res) { answer(res, session_.pose()); });
		server_.Get(R"(/api/mesh/(\d{1,6})/(triangles|rest))", [this](const Request& req, Response& res) {
			const size_t i = std::stoul(req.matches[1].str());
			if (i >= session_.meshCount())
				return answer(res, 404, "there is no mesh " + req.matches[1].str());
			const bool tris = req.matches[2].str() == "triangles";
			send(res, tris ? session_.triangles(i) : session_.restPoints(i), "application/octet-stream");
		});
		post("/api/deform", [this](const Request& req, const std::string& body) { return session_.deform(body, blendOf(req)); }, cap);
		post("/api/save", [this](const Request& req, const std::string& body) { return session_.save(body, blendOf(req)); }, cap);
		post("/api/load-pose", [this](const Request&, const std::string& body) { return session_.loadPose(body); }, cap);
		server_.Get("/.*", [this](const Request& req, Response& res) {
			const auto it = page_.find(req.path);
			if (it == page_.end())
				return answer(res, 404, "not found");
			send(res, it->second.body, it->second.type);
		});
	}

	bool listen() { return server_.listen_after_bind(); }
	void stop() { server_.stop(); }

private:
	// The checks every request passes before it is routed; false: refused, with res filled.
	bool admit(const Request& req, Response& res, size_t cap) const
	{
		if (req.get_header_value_count("Host") != 1 || req.get_header_value("Host") != host_)
			return refuse(res, 403, "refused: the Host must be " + host_);
		if (req.has_header("Origin") && (req.get_header_value_count("Origin") != 1 || req.get_header_value("Origin") != origin_))
			return refuse(res, 403, "refused: a request from another origin");
		const bool api = req.path == "/api" || req.path.rfind("/api/", 0) == 0;
		if (api)
		{
			const std::string given = req.has_header("X-Morvexer-Token") ? req.get_header_value("X-Morvexer-Token") : req.get_param_value("token");
			if (!sameToken(given, token_))
				return refuse(res, 403, "refused: the token is missing or wrong");
		}
		// Checked before any of the body is read; a body without a length is
		// counted as it arrives (see post).
		if (req.has_header("Content-Length"))
		{
			const std::string length = req.get_header_value("Content-Length");
			if (length.empty() || length.find_first_not_of("0123456789") != std::string::npos)
				return refuse(res, 400, "refused: a malformed Content-Length");
			if (length.size() > 18 || std::stoull(length) > cap)
				return refuse(res, 413, "refused: the body is larger than " + std::to_string(cap) + " bytes");
		}
		if (req.method != "POST" && req.has_header("Transfer-Encoding"))
			return refuse(res, 400, "refused: only a POST takes a body");
		return true;
	}

	template <class Handle>
	void post(const std::string& path, Handle handle, size_t cap)
	{
		server_.Post(path, [handle](const Request& req, Response& res) { answer(res, handle(req, req.body)); });
		server_.Post(path, [handle, cap](const Request& req, Response& res, const httplib::ContentReader& reader) {
			std::string body;
			bool over = false;
			const bool read = reader([&](const char* data, size_t length) {
				over = body.size() + length > cap;
				if (!over)
					body.append(data, length);
				return !over;
			});
			if (over)
				return answer(res, 413, "refused: the body is larger than " + std::to_string(cap) + " bytes");
			if (!read)
				return answer(res, 400, "refused: the body could not be read whole");
			answer(res, handle(req, body));
		});
	}

	StudioSession& session_;
	std::map<std::string, PageFile> page_;
	Server server_;
	std::string host_, origin_, token_;
};

}  // namespace

CLI::App* addStudioCommand(CLI::App& app, StudioOptions& o, CommonOptions& common)
{
	CLI::App* cmd = app.add_subcommand("studio", "pose the cage by hand in a browser on this machine; the meshes follow live");
	cmd->add_option("--cage", o.cage, "the rest cage (OBJ), to bind the meshes to at start");
	cmd->add_option("--mesh", o.meshes, "a mesh to bind with --cage; repeat for more");
	cmd->add_option("--scene", o.scene, "a scene saved by bind (no rebind)");
	cmd->add_option("--posed", o.posed, "a posed cage (OBJ) to start from");
	cmd->add_option("--out", o.out, "the folder saves are written into")->capture_default_str();
	cmd->add_option("--port", o.port, "the port on 127.0.0.1 (default: any free one)")->check(CLI::Range(1, 65535));
	addThreadsOption(cmd, common.threads);
	return cmd;
}

int runStudio(const CommonOptions& c, const StudioOptions& o)
{
	if (o.scene.empty() == o.cage.empty() || (!o.cage.empty() && o.meshes.empty()) || (!o.scene.empty() && !o.meshes.empty()))
	{
		std::fprintf(stderr, "usage error: studio needs either --scene or --cage with --mesh (see --help)\n");
		return 2;
	}
	try
	{
		// Where the build put the page, beside the tool.
		std::map<std::string, PageFile> page = loadPage(vtnhost::platform::fsPath(MORVEXER_WEB_DIR));
		StudioSession session(c, o);
		StudioServer server(session, std::move(page));
		const int port = server.bind(o.port);
		if (port <= 0)
			throw Failure{"cannot listen on 127.0.0.1" + (o.port > 0 ? ":" + std::to_string(o.port) + " (is it in use?)" : std::string())};
		const std::string token = makeToken();
		server.setUp(port, token);

		// From here on Ctrl-C stops the server; before, it cancelled the bind.
		stopRequested = false;
		vtnhost::platform::onInterrupt(onStop);
		std::atomic<bool> ended{false};
		bool listened = false;
		std::thread serving([&] {
			listened = server.listen();
			ended = true;
		});
		// The address goes to stdout even with --quiet: without it the studio is of no use.
		std::printf("morvexer studio: open http://%s/?token=%s\n", ("127.0.0.1:" + std::to_string(port)).c_str(), token.c_str());
		if (!c.quiet)
			std::printf("saves go to %s; Ctrl-C stops\n", session.folder().c_str());
		std::fflush(stdout);
		while (!stopRequested && !ended)
			std::this_thread::sleep_for(std::chrono::milliseconds(50));
		server.stop();
		serving.join();
		StepRunner::installInterruptHandler();
		if (!stopRequested && !listened)
			throw Failure{"the server stopped on its own"};
		if (!c.quiet)
			std::printf("studio stopped\n");
		return 0;
	}
	catch (const Interrupted& i)
	{
		// Ctrl-C while the studio read or bound its meshes: nothing was served or saved.
		return reportInterrupted(i.step, "nothing was written");
	}
	catch (const Failure& f)
	{
		std::fprintf(stderr, "error: %s\n", f.message.c_str());
		return 1;
	}
	catch (const std::bad_alloc&)
	{
		std::fprintf(stderr, "error: memory ran out: the studio could not allocate what it needed\n");
		return 1;
	}
}

}  // namespace mvx
