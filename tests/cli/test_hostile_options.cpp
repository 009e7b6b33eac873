// Careless option values, misleading messages and Ctrl-C in every long step,
// through the real tool: each value is refused in one line that names the
// option, the value and the range; each interrupted step exits with the
// interrupted code and leaves nothing behind.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <thread>

#include "support/meshes.h"

namespace fs = std::filesystem;

namespace {

constexpr int kUsage = 2, kOutside = 3, kInterrupted = 130;

struct Outcome
{
	int code;
	std::string out, err;
};

size_t lines(const std::string& text) { return static_cast<size_t>(std::count(text.begin(), text.end(), '\n')); }

class HostileOptions : public ::testing::Test
{
protected:
	void SetUp() override
	{
		std::string tmpl = (fs::temp_directory_path() / "morvexer-options-XXXXXX").string();
		ASSERT_NE(::mkdtemp(tmpl.data()), nullptr);
		dir = tmpl;
		// The cube of corners ±1 with outward quads, a cloud of points inside
		// it, and the cube moved half a unit along x.
		writeMesh("cube.obj", testmesh::box({-1, -1, -1}, {1, 1, 1}));
		testmesh::Mesh moved = testmesh::box({-0.5, -1, -1}, {1.5, 1, 1});
		writeMesh("posed.obj", moved);
		writeMesh("cloud.obj", testmesh::Mesh{{{0, 0, 0}, {0.5, 0.25, -0.5}, {-0.75, 0.5, 0.125}}, {}});
		writeMesh("ball.obj", testmesh::icosphere({0, 0, 0}, 0.8, 2));
	}
	void TearDown() override { fs::remove_all(dir); }

	std::string path(const std::string& name) const { return dir + "/" + name; }
	void writeText(const std::string& name, const std::string& text) const { std::ofstream(path(name), std::ios::binary) << text; }
	void writeMesh(const std::string& name, const testmesh::Mesh& m) const
	{
		std::ostringstream s;
		s.precision(17);
		for (const LVector& p : m.points)
			s << "v " << p.x << ' ' << p.y << ' ' << p.z << "\n";
		for (const CPolygon& f : m.polygons)
			s << "f " << f.a + 1 << ' ' << f.b + 1 << ' ' << f.c + 1 << (f.c != f.d ? " " + std::to_string(f.d + 1) : "") << "\n";
		writeText(name, s.str());
	}
	static std::string read(const std::string& file)
	{
		std::ifstream in(file, std::ios::binary);
		std::ostringstream s;
		s << in.rdbuf();
		return s.str();
	}
	std::set<std::string> files() const
	{
		std::set<std::string> names;
		for (const fs::directory_entry& e : fs::directory_iterator(dir))
			names.insert(e.path().filename().string());
		return names;
	}

	// Starts the tool with args (no shell: every argument arrives as written)
	// and stdout and stderr in files; with hook, every step is announced and
	// the one that steps begins, if any, is held.
	pid_t start(const std::vector<std::string>& args, bool hook = false, const std::string& steps = "") const
	{
		const std::string out = path("stdout.txt"), err = path("stderr.txt");
		const pid_t pid = ::fork();
		if (pid == 0)
		{
			const int o = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), e = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
			::dup2(o, 1);
			::dup2(e, 2);
			if (hook)
				::setenv("MORVEXER_TEST_STEPS", steps.c_str(), 1);
			std::vector<char*> argv;
			std::string tool = MORVEXER_TOOL_PATH;
			argv.push_back(tool.data());
			std::vector<std::string> copy = args;
			for (std::string& a : copy)
				argv.push_back(a.data());
			argv.push_back(nullptr);
			::execv(tool.c_str(), argv.data());
			::_exit(127);
		}
		return pid;
	}
	Outcome finish(pid_t pid) const
	{
		int status = 0;
		::waitpid(pid, &status, 0);
		Outcome r{WIFEXITED(status) ? WEXITSTATUS(status) : -1, read(path("stdout.txt")), read(path("stderr.txt"))};
		fs::remove(path("stdout.txt"));
		fs::remove(path("stderr.txt"));
		return r;
	}
	Outcome run(const std::vector<std::string>& args) const { return finish(start(args)); }

	// Runs the tool, waits until its stderr shows `shown` (a step that has
	// started, or the hook holding one), then sends it SIGINT. No fixed sleep:
	// on a loaded machine the wait is longer, the outcome the same.
	Outcome interrupt(const std::vector<std::string>& args, const std::string& hold, const std::string& shown) const
	{
		const pid_t pid = start(args, true, hold);
		const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(3);
		while (read(path("stderr.txt")).find(shown) == std::string::npos && std::chrono::steady_clock::now() < deadline)
		{
			int status = 0;
			if (::waitpid(pid, &status, WNOHANG) == pid)
			{
				ADD_FAILURE() << "the tool ended before " << shown << ": " << read(path("stderr.txt"));
				return {-1, "", read(path("stderr.txt"))};
			}
			std::this_thread::sleep_for(std::chrono::milliseconds(5));
		}
		::kill(pid, SIGINT);
		return finish(pid);
	}

	std::string dir;
};

// --- Values ---------------------------------------------------------------------

struct ValueCase
{
	std::vector<std::string> args;  // after the command's inputs
	std::string expected;           // on the one line of stderr
};

TEST_F(HostileOptions, ValuesOutOfTheirRangeAreUsageErrorsNamingOptionValueAndRange)
{
	const std::vector<std::string> deform = {"deform", "--cage", path("cube.obj"), "--mesh", path("ball.obj"), "--posed", path("posed.obj"),
	                                         "-o", path("out.obj")};
	const std::vector<std::string> check = {"check", "--cage", path("cube.obj"), "--mesh", path("ball.obj"), "--json", path("out.obj")};
	const std::vector<std::pair<std::vector<std::string>, ValueCase>> cases = {
	    {deform, {{"--strength", ""}, "--strength: '' is not a number"}},
	    {deform, {{"--strength", "1e30"}, "--strength: '1e30' is out of range: 0 to 1"}},
	    {deform, {{"--strength", "-0.5"}, "--strength: '-0.5' is out of range: 0 to 1"}},
	    {deform, {{"--strength", "nan"}, "--strength: 'nan' is not a finite number (0 to 1)"}},
	    {deform, {{"--strength", "1e400"}, "--strength: '1e400' is not a finite number (0 to 1)"}},
	    {deform, {{"--strength", "0.5x"}, "--strength: '0.5x' is not a number"}},
	    {deform, {{"--stretch", "-1"}, "--stretch: '-1' is out of range: 0 or more"}},
	    {deform, {{"--stretch", "-inf"}, "--stretch: '-inf' is not a finite number (0 or more)"}},
	    {deform, {{"--stretch", "inf"}, "--stretch: 'inf' is not a finite number (0 or more)"}},
	    {check, {{"--safe-distance", "-1"}, "--safe-distance: '-1' is out of range: 0 or more"}},
	    {check, {{"--safe-distance", "-inf"}, "--safe-distance: '-inf' is not a finite number (0 or more)"}},
	    {check, {{"--safe-distance", "nan"}, "--safe-distance: 'nan' is not a finite number (0 or more)"}},
	    {deform, {{"--threads", "0"}, "--threads: Value 0 not in range 1 to 256"}},
	    {deform, {{"--threads", "100000"}, "--threads: Value 100000 not in range 1 to 256"}},
	    {deform, {{"--threads", "257"}, "--threads: Value 257 not in range 1 to 256"}},
	};
	for (const auto& [command, c] : cases)
	{
		std::vector<std::string> args = command;
		args.insert(args.end(), c.args.begin(), c.args.end());
		SCOPED_TRACE(c.args[0] + " '" + c.args[1] + "'");
		const Outcome r = run(args);
		EXPECT_EQ(r.code, kUsage) << r.err;
		EXPECT_NE(r.err.find("usage error: " + c.expected + " (see --help)\n"), std::string::npos) << r.err;
		EXPECT_EQ(lines(r.err), 1u) << r.err;
		EXPECT_FALSE(fs::exists(path("out.obj")));
	}
	// The ends of each range are values like any other.
	for (const auto& extra : std::vector<std::vector<std::string>>{
	         {"--strength", "0"}, {"--strength", "1"}, {"--stretch", "0"}, {"--stretch", "1e6"}, {"--threads", "256"}})
	{
		std::vector<std::string> args = deform;
		args.insert(args.end(), extra.begin(), extra.end());
		const Outcome r = run(args);
		EXPECT_EQ(r.code, 0) << extra[0] << ' ' << extra[1] << ": " << r.err;
	}
	std::vector<std::string> zero = check;
	zero.insert(zero.end(), {"--safe-distance", "0"});
	EXPECT_EQ(run(zero).code, 0);
}

TEST_F(HostileOptions, OptionsWithoutEffectAreRefused)
{
	ASSERT_EQ(run({"bind", "--cage", path("cube.obj"), "--mesh", path("ball.obj"), "-o", path("s.vtn")}).code, 0);
	writeMesh("posed_1.obj", testmesh::box({-0.5, -1, -1}, {1.5, 1, 1}));
	const std::vector<std::string> scene = {"deform", "--scene", path("s.vtn"), "--posed", path("posed.obj"), "-o", path("out.obj")};
	const std::vector<std::string> bound = {"deform", "--cage", path("cube.obj"), "--mesh", path("ball.obj"), "-o", path("out.obj")};
	const std::vector<std::pair<std::vector<std::string>, ValueCase>> cases = {
	    {scene, {{"--mesh", path("ball.obj")}, "--mesh has no effect with --scene"}},
	    {scene, {{"--inside-only"}, "--inside-only has no effect with --scene"}},
	    {scene, {{"--force"}, "--force has no effect with --scene"}},
	    {bound, {{"--posed", path("posed_{frame}.obj"), "--frames", "1-5:abc"}, "--frames '1-5:abc' is not A-B or A-B:STEP"}},
	    {bound, {{"--posed", path("posed_{frame}.obj"), "--frames", "1-5:"}, "--frames '1-5:' is not A-B or A-B:STEP"}},
	    {bound, {{"--posed", path("posed_{frame}.obj"), "--frames", "1-1x"}, "--frames '1-1x' is not A-B or A-B:STEP"}},
	    // Beyond 64 bits: refused, never cut down to the largest number that fits.
	    {bound, {{"--posed", path("posed_{frame}.obj"), "--frames", "1-99999999999999999999"},
	             "--frames '1-99999999999999999999' is not A-B or A-B:STEP"}},
	    {bound, {{"--posed", path("posed_1.obj"), "--frames", "1-3"}, "--frames needs {frame} in the --posed pattern"}},
	};
	for (const auto& [command, c] : cases)
	{
		std::vector<std::string> args = command;
		args.insert(args.end(), c.args.begin(), c.args.end());
		SCOPED_TRACE(c.expected);
		const Outcome r = run(args);
		EXPECT_EQ(r.code, kUsage) << r.err;
		EXPECT_NE(r.err.find("usage error: " + c.expected), std::string::npos) << r.err;
		EXPECT_EQ(lines(r.err), 1u) << r.err;
		EXPECT_FALSE(fs::exists(path("out.obj")));
	}
	std::vector<std::string> one = bound;
	one.insert(one.end(), {"--posed", path("posed_{frame}.obj"), "--frames", "1-1:1"});
	EXPECT_EQ(run(one).code, 0) << "a whole A-B:STEP is taken";
}

TEST_F(HostileOptions, WeightsOutsideZeroToOneAreRefusedNamingTheWeight)
{
	const size_t points = testmesh::icosphere({0, 0, 0}, 0.8, 2).points.size();
	const std::vector<std::pair<std::string, std::string>> cases = {
	    {"nan", "weight 3: 'nan' is not a finite number (0 to 1)"},
	    {"inf", "weight 3: 'inf' is not a finite number (0 to 1)"},
	    {"-inf", "weight 3: '-inf' is not a finite number (0 to 1)"},
	    {"1e40", "weight 3: '1e40' is out of range: 0 to 1"},
	    {"1.5", "weight 3: '1.5' is out of range: 0 to 1"},
	    {"-0.25", "weight 3: '-0.25' is out of range: 0 to 1"},
	    {"0.5q", "weight 3: '0.5q' is not a number"},
	};
	for (const auto& [bad, expected] : cases)
	{
		SCOPED_TRACE(bad);
		std::string text = "0\n1\n" + bad + "\n";
		for (size_t i = 3; i < points; ++i)
			text += "0.5\n";
		writeText("w.txt", text);
		const Outcome r = run({"deform", "--cage", path("cube.obj"), "--mesh", path("ball.obj"), "--posed", path("posed.obj"), "--weights",
		                       path("w.txt"), "-o", path("out.obj")});
		EXPECT_EQ(r.code, 1) << r.err;
		EXPECT_NE(r.err.find("error: --weights " + path("w.txt") + ": " + expected + "\n"), std::string::npos) << r.err;
		EXPECT_EQ(lines(r.err), 1u) << r.err;
		EXPECT_FALSE(fs::exists(path("out.obj")));
	}
}

// --- Point clouds and check's exit code -------------------------------------------

TEST_F(HostileOptions, APointCloudBindsAndDeformsLikeAMesh)
{
	const std::vector<LVector> rest = testmesh::objPoints(path("cloud.obj")).points;
	const Outcome bind = run({"bind", "--cage", path("cube.obj"), "--mesh", path("cloud.obj"), "-o", path("s.vtn")});
	ASSERT_EQ(bind.code, 0) << bind.err;
	const Outcome fromScene = run({"deform", "--scene", path("s.vtn"), "--posed", path("posed.obj"), "-o", path("a.obj")});
	ASSERT_EQ(fromScene.code, 0) << fromScene.err;
	const Outcome inOneGo =
	    run({"deform", "--cage", path("cube.obj"), "--mesh", path("cloud.obj"), "--posed", path("posed.obj"), "-o", path("b.obj")});
	ASSERT_EQ(inOneGo.code, 0) << inOneGo.err;
	EXPECT_EQ(read(path("a.obj")), read(path("b.obj")));
	// A translated cage translates every point inside it.
	const std::vector<LVector> moved = testmesh::objPoints(path("a.obj")).points;
	ASSERT_EQ(moved.size(), rest.size());
	for (size_t i = 0; i < rest.size(); ++i)
		EXPECT_LT(testmesh::distance(moved[i], {rest[i].x + 0.5, rest[i].y, rest[i].z}), 1e-5) << i;
	EXPECT_EQ(read(path("a.obj")).find("f "), std::string::npos) << "the cloud stays a cloud";
}

TEST_F(HostileOptions, CheckExitsWithItsOwnCodeWhenPointsLieOutsideIfAsked)
{
	writeMesh("half.obj", testmesh::Mesh{{{0, 0, 0}, {3, 0, 0}}, {}});
	writeMesh("open.obj", testmesh::Mesh{testmesh::box({-1, -1, -1}, {1, 1, 1}).points, {testmesh::box({-1, -1, -1}, {1, 1, 1}).polygons[0]}});
	const struct
	{
		std::string mesh, cage;
		bool failOutside;
		int code;
	} cases[] = {
	    {"half.obj", "cube.obj", true, kOutside}, {"cloud.obj", "cube.obj", true, 0}, {"half.obj", "cube.obj", false, 0},
	    {"half.obj", "open.obj", true, 1},        {"nope.obj", "cube.obj", true, 1},
	};
	for (const auto& c : cases)
	{
		SCOPED_TRACE(c.mesh + " in " + c.cage + (c.failOutside ? " --fail-outside" : ""));
		std::vector<std::string> args = {"check", "--cage", path(c.cage), "--mesh", path(c.mesh)};
		if (c.failOutside)
			args.push_back("--fail-outside");
		const Outcome r = run(args);
		EXPECT_EQ(r.code, c.code) << r.out << r.err;
		if (c.code == kOutside)
		{
			EXPECT_NE(r.out.find("1 of 2 points lie outside the cage; first: 2"), std::string::npos) << r.out;
		}
	}
}

// --- Messages ----------------------------------------------------------------------

TEST_F(HostileOptions, MessagesNameTheRightFileAndCountFromOne)
{
	testmesh::Mesh huge = testmesh::box({-1e20, -1e20, -1e20}, {1e20, 1e20, 1e20});
	writeMesh("huge.obj", huge);
	testmesh::Mesh far = testmesh::box({-1, -1, -1}, {1, 1, 1});
	far.points[7] = {1e300, 1e300, 1e300};
	writeMesh("far.obj", far);
	// The third face uses its second point twice.
	writeText("twice.obj", "v -1 -1 -1\nv 1 -1 -1\nv 1 1 -1\nv -1 1 -1\nf 1 2 3\nf 1 3 4\nf 2 2 4\nf 4 3 1\n");
	writeText("wide.obj", "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 4294967298\n");
	writeText("before.obj", "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 -4294967298\n");
	writeText("word.obj", "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 x3\n");
	const struct
	{
		std::vector<std::string> args;
		std::string expected, unexpected;
	} cases[] = {
	    {{"bind", "--cage", path("huge.obj"), "--mesh", path("cloud.obj"), "-o", path("out.vtn")},
	     "huge.obj: the coordinates are too large: the cage spans 3.46e+20, at most 1e15 (--force binds anyway)", "area"},
	    {{"check", "--cage", path("huge.obj"), "--mesh", path("cloud.obj")}, "(--force checks anyway)", "binds"},
	    {{"check", "--cage", path("twice.obj"), "--mesh", path("cloud.obj")}, "twice.obj: face 3 uses point 2 twice", "face 2 "},
	    {{"deform", "--cage", path("cube.obj"), "--mesh", path("ball.obj"), "--posed", path("far.obj"), "-o", path("out.obj")},
	     "far.obj: moves vertex ", "out.obj"},
	    {{"check", "--cage", path("cube.obj"), "--mesh", path("wide.obj")}, "wide.obj: line 4: face corner '4294967298' is out of range",
	     "refers to"},
	    {{"check", "--cage", path("cube.obj"), "--mesh", path("before.obj")}, "before.obj: line 4: face corner '-4294967298' is out of range",
	     "before the first"},
	    {{"check", "--cage", path("cube.obj"), "--mesh", path("word.obj")}, "face corner 'x3' is not a vertex index", "zero"},
	};
	for (const auto& c : cases)
	{
		SCOPED_TRACE(c.expected);
		const Outcome r = run(c.args);
		EXPECT_EQ(r.code, 1) << r.err;
		EXPECT_EQ(r.err.rfind("error: ", 0), 0u) << r.err;
		EXPECT_NE(r.err.find(c.expected), std::string::npos) << r.err;
		EXPECT_EQ(r.err.find(c.unexpected), std::string::npos) << r.err;
		EXPECT_EQ(lines(r.err), 1u) << r.err;
		EXPECT_FALSE(fs::exists(path("out.obj")) || fs::exists(path("out.vtn")));
	}

	// The bind's time and the save's are told apart.
	const Outcome bind = run({"bind", "--cage", path("cube.obj"), "--mesh", path("ball.obj"), "-o", path("s.vtn")});
	ASSERT_EQ(bind.code, 0) << bind.err;
	EXPECT_NE(bind.out.find("; saved " + path("s.vtn") + " in "), std::string::npos) << bind.out;
}

// --- Ctrl-C ------------------------------------------------------------------------

// A mesh of 40 962 points: its OBJ takes thousands of lines to read and write,
// and binding it to a fine cage on one thread takes seconds.
class CtrlC : public HostileOptions
{
protected:
	void SetUp() override
	{
		HostileOptions::SetUp();
		writeMesh("dense.obj", testmesh::icosphere({0, 0, 0}, 0.8, 6));
		writeMesh("fine.obj", testmesh::icosphere({0, 0, 0}, 1.5, 4));
	}
};

TEST_F(CtrlC, EveryLongStepStopsWithTheInterruptedCodeAndLeavesNothingBehind)
{
	ASSERT_EQ(run({"bind", "--cage", path("cube.obj"), "--mesh", path("dense.obj"), "-o", path("s.vtn")}).code, 0);
	const std::vector<std::string> bind = {"bind", "--cage", path("cube.obj"), "--mesh", path("dense.obj"), "-o", path("out.vtn")};
	const std::vector<std::string> check = {"check", "--cage", path("cube.obj"), "--mesh", path("dense.obj"), "--json", path("out.json")};
	const std::vector<std::string> deform = {"deform", "--cage", path("cube.obj"), "--mesh", path("dense.obj"),
	                                         "--posed", path("posed.obj"), "-o", path("out.obj")};
	const std::vector<std::string> fromScene = {"deform", "--scene", path("s.vtn"), "--posed", path("posed.obj"), "-o", path("out.obj")};
	const std::vector<std::string> fineBind = {"bind", "--threads", "1", "--cage", path("fine.obj"), "--mesh", path("dense.obj"),
	                                           "-o", path("out.vtn")};
	const struct
	{
		std::vector<std::string> args;
		std::string hold;  // the step the hook holds, or none: a step long enough by itself
		std::string step;
	} cases[] = {
	    {bind, "reading dense.obj", "reading dense.obj"},
	    {check, "reading dense.obj", "reading dense.obj"},
	    {check, "finding", "finding the points of dense outside the cage"},
	    {deform, "reading dense.obj", "reading dense.obj"},
	    {deform, "writing", "writing out.obj"},
	    {bind, "saving", "saving out.vtn"},
	    {fromScene, "loading", "loading s.vtn"},
	    {fromScene, "writing", "writing out.obj"},
	    {fineBind, "", "binding"},
	    // Pipes nobody writes to: their reads cannot be broken, yet Ctrl-C ends them.
	    {{"check", "--cage", path("cube.obj"), "--mesh", path("silent.obj")}, "", "reading silent.obj"},
	    {{"deform", "--cage", path("cube.obj"), "--mesh", path("dense.obj"), "--posed", path("posed.obj"), "--weights", path("silent.txt"),
	      "-o", path("out.obj")},
	     "",
	     "reading silent.txt"},
	};
	ASSERT_EQ(::mkfifo(path("silent.obj").c_str(), 0600), 0);
	ASSERT_EQ(::mkfifo(path("silent.txt").c_str(), 0600), 0);
	const std::set<std::string> before = files();
	for (const auto& c : cases)
	{
		SCOPED_TRACE(c.args[0] + ": " + c.step);
		const Outcome r = interrupt(c.args, c.hold, c.hold.empty() ? "step: " + c.step + "\n" : "held: " + c.step + "\n");
		EXPECT_EQ(r.code, kInterrupted) << r.err;
		EXPECT_NE(r.err.find("interrupted: Ctrl-C while " + c.step + "; "), std::string::npos) << r.err;
		EXPECT_EQ(r.err.find("error"), std::string::npos) << r.err;
		EXPECT_EQ(files(), before) << "no output, no temporary file";
	}
}

// The studio reads and binds before it serves: Ctrl-C then stops it as any command.
TEST_F(CtrlC, TheStudioStopsWhileItBinds)
{
	const std::vector<std::string> studio = {"studio", "--threads", "1", "--cage", path("fine.obj"), "--mesh", path("dense.obj"),
	                                         "--out", path("saves")};
	// The build puts the page beside the tool; without three.js the studio refuses before it binds.
	const fs::path page = fs::path(MORVEXER_TOOL_PATH).parent_path() / "web" / "vendor" / "three.module.js";
	if (!fs::exists(page))
		GTEST_SKIP() << "the studio's page is not built (" << page << " is missing): run scripts/setup-web.sh";
	const Outcome r = interrupt(studio, "binding", "held: binding\n");
	EXPECT_EQ(r.code, kInterrupted) << r.err;
	EXPECT_NE(r.err.find("interrupted: Ctrl-C while binding; nothing was written"), std::string::npos) << r.err;
}

}  // namespace
