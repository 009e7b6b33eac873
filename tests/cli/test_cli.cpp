// The morvexer tool end to end, through the real binary and the real plug-in.
#include <gtest/gtest.h>

#include <algorithm>

#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <sstream>

#include "support/meshes.h"

namespace fs = std::filesystem;

namespace {

struct Outcome
{
	int code;
	std::string out, err;
};

class Tool : public ::testing::Test
{
protected:
	void SetUp() override
	{
		std::string tmpl = (fs::temp_directory_path() / "morvexer-cli-XXXXXX").string();
		ASSERT_NE(::mkdtemp(tmpl.data()), nullptr);
		dir = tmpl;
	}
	void TearDown() override { fs::remove_all(dir); }

	Outcome run(const std::string& args)
	{
		const std::string out = dir + "/stdout.txt", err = dir + "/stderr.txt";
		const int status = std::system((std::string(MORVEXER_TOOL_PATH) + " " + args + " >" + out + " 2>" + err).c_str());
		return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, read(out), read(err)};
	}
	static std::string read(const std::string& path)
	{
		std::ifstream in(path, std::ios::binary);
		std::ostringstream s;
		s << in.rdbuf();
		return s.str();
	}
	std::string path(const std::string& name) const { return dir + "/" + name; }
	void writeText(const std::string& name, const std::string& text) const { std::ofstream(path(name), std::ios::binary) << text; }
	void writeMesh(const std::string& name, const testmesh::Mesh& m) const
	{
		std::ostringstream s;
		s.precision(17);
		s << "# test mesh\n";
		for (const LVector& p : m.points)
			s << "v " << p.x << ' ' << p.y << ' ' << p.z << "\n";
		for (const CPolygon& f : m.polygons)
		{
			s << "f " << f.a + 1 << ' ' << f.b + 1 << ' ' << f.c + 1;
			if (f.c != f.d)
				s << ' ' << f.d + 1;
			s << "\n";
		}
		writeText(name, s.str());
	}
	// The v lines of an OBJ as points.
	static std::vector<LVector> points(const std::string& text)
	{
		std::vector<LVector> out;
		std::istringstream in(text);
		std::string line;
		while (std::getline(in, line))
			if (line.rfind("v ", 0) == 0)
			{
				LVector p;
				std::sscanf(line.c_str() + 2, "%lf %lf %lf", &p.x, &p.y, &p.z);
				out.push_back(p);
			}
		return out;
	}
	// Every line but the v lines.
	static std::string nonVertexLines(const std::string& text)
	{
		std::string out;
		std::istringstream in(text);
		std::string line;
		while (std::getline(in, line))
			if (line.rfind("v ", 0) != 0)
				out += line + "\n";
		return out;
	}
	void standardScene()
	{
		writeMesh("cage.obj", testmesh::subdividedBox({-1.2, -1.2, -1.2}, {1.2, 1.2, 1.2}, 2));
		writeMesh("ball.obj", testmesh::icosphere({0, 0, 0}, 1.0, 2));
		testmesh::Mesh posed = testmesh::subdividedBox({-1.2, -1.2, -1.2}, {1.2, 1.2, 1.2}, 2);
		for (LVector& p : posed.points)
			p = {p.x + 0.5, p.y * (1 + 0.3 * p.x), p.z};
		writeMesh("posed.obj", posed);
	}

	std::string dir;
};

}  // namespace

TEST_F(Tool, VersionHelpAndUsageErrors)
{
	Outcome r = run("--version");
	EXPECT_EQ(r.code, 0);
	EXPECT_NE(r.out.find("morvexer 1.0"), std::string::npos);
	EXPECT_EQ(run("bind --help").code, 0);
	EXPECT_EQ(run("").code, 2);
	EXPECT_EQ(run("bind --cage x.obj").code, 2);
	EXPECT_EQ(run("deform --posed p.obj -o out.obj").code, 2) << "neither --scene nor --cage";
	EXPECT_EQ(run("frobnicate").code, 2);
}

TEST_F(Tool, BindSaveInfoAndDeformFromTheScene)
{
	standardScene();
	Outcome bind = run("bind --cage " + path("cage.obj") + " --mesh " + path("ball.obj") + " -o " + path("scene.vtn"));
	ASSERT_EQ(bind.code, 0) << bind.err;
	EXPECT_NE(bind.out.find("memory"), std::string::npos);
	ASSERT_TRUE(fs::exists(path("scene.vtn")));

	Outcome info = run("info " + path("scene.vtn"));
	ASSERT_EQ(info.code, 0) << info.err;
	EXPECT_NE(info.out.find("1 binding"), std::string::npos) << info.out;
	EXPECT_NE(info.out.find("ball: 162 bound points, cage of 26 points and 48 faces, all points"), std::string::npos) << info.out;
	EXPECT_NE(info.out.find("rest pose: 26 points"), std::string::npos) << info.out;

	Outcome from_scene = run("deform --scene " + path("scene.vtn") + " --posed " + path("posed.obj") + " -o " + path("a.obj"));
	ASSERT_EQ(from_scene.code, 0) << from_scene.err;
	Outcome in_one_go = run("deform --cage " + path("cage.obj") + " --mesh " + path("ball.obj") + " --posed " + path("posed.obj") + " -o " + path("b.obj"));
	ASSERT_EQ(in_one_go.code, 0) << in_one_go.err;
	EXPECT_EQ(read(path("a.obj")), read(path("b.obj"))) << "a saved binding deforms bit for bit like a fresh one";
	const std::vector<LVector> moved = points(read(path("a.obj"))), rest = points(read(path("ball.obj")));
	ASSERT_EQ(moved.size(), rest.size());
	EXPECT_GT(moved[0].x - rest[0].x, 0.2) << "the posed cage moved half a unit along x";
}

TEST_F(Tool, InfoSaysWhenTheSceneHoldsDataThePluginCannotRead)
{
	standardScene();
	ASSERT_EQ(run("bind --cage " + path("cage.obj") + " --mesh " + path("ball.obj") + " -o " + path("scene.vtn")).code, 0);
	// The deformer's block opens with its stream version (a Long: kind 1, then
	// four bytes), one binding and that binding's record version.
	std::string bytes = read(path("scene.vtn"));
	const std::string head("\x01\x02\0\0\0\x01\x01\0\0\0\x01\x02\0\0\0", 15);
	const size_t at = bytes.find(head);
	ASSERT_NE(at, std::string::npos);
	ASSERT_EQ(bytes.find(head, at + 1), std::string::npos) << "the block's head is found once";
	bytes[at + 1] = 3;
	writeText("newer.vtn", bytes);
	Outcome info = run("info " + path("newer.vtn"));
	EXPECT_EQ(info.code, 1);
	EXPECT_NE(info.err.find("newer.vtn: the deformer's data is of stream version 3, which this plug-in cannot read"), std::string::npos)
	    << info.err;
	EXPECT_EQ(info.out.find("binding"), std::string::npos) << "nothing is shown as if it had been read: " << info.out;
	// The byte changed by hand is damage to the block's checksum, which a deformation, reading the whole block, checks.
	Outcome deform = run("deform --scene " + path("newer.vtn") + " --posed " + path("posed.obj") + " -o " + path("out.obj"));
	EXPECT_EQ(deform.code, 1);
	EXPECT_NE(deform.err.find("newer.vtn: Morvexer: its plug-in data is damaged (its checksum does not match); it was not read"),
	          std::string::npos)
	    << deform.err;
	EXPECT_FALSE(fs::exists(path("out.obj")));
}

TEST_F(Tool, InfoPassesOverTheWeightsAndDeformRefusesDamagedOnes)
{
	standardScene();
	ASSERT_EQ(run("bind --cage " + path("cage.obj") + " --mesh " + path("ball.obj") + " -o " + path("scene.vtn")).code, 0);
	// One bit flipped inside the packed weights: info, which never reads them, answers as before.
	std::string bytes = read(path("scene.vtn"));
	const size_t at = bytes.find("VTNPACK1");
	ASSERT_NE(at, std::string::npos);
	bytes[at + 24 + 100] = static_cast<char>(bytes[at + 24 + 100] ^ 0x04);
	writeText("damaged.vtn", bytes);
	Outcome info = run("info " + path("damaged.vtn"));
	ASSERT_EQ(info.code, 0) << info.err;
	EXPECT_NE(info.out.find("ball: 162 bound points, cage of 26 points and 48 faces, all points"), std::string::npos) << info.out;
	EXPECT_NE(info.out.find("weights: " + std::to_string(162 * (26 + 48) * 4) + " bytes"), std::string::npos) << info.out;
	// A deformation needs them: the damage is caught (every chunk has its checksum), in one line, and nothing is written.
	Outcome deform = run("deform --scene " + path("damaged.vtn") + " --posed " + path("posed.obj") + " -o " + path("out.obj"));
	EXPECT_EQ(deform.code, 1);
	EXPECT_EQ(std::count(deform.err.begin(), deform.err.end(), '\n'), 1) << deform.err;
	EXPECT_FALSE(fs::exists(path("out.obj")));
}

// A scene is read from a plain file only: a FIFO (which would wait for a
// writer), a device (which would never end), a folder, or a link to one of
// them is refused at once in one line naming the option, before anything is read.
TEST_F(Tool, AScenesFileMustBeAPlainFile)
{
	standardScene();
	ASSERT_EQ(::mkfifo(path("fifo").c_str(), 0600), 0);
	ASSERT_EQ(::mknod(path("zero").c_str(), S_IFCHR | 0600, makedev(1, 5)), 0) << "the tests run as root";
	fs::create_directory(path("folder"));
	fs::create_symlink(path("fifo"), path("link"));
	const struct
	{
		const char* name;
		const char* why;
	} cases[] = {
	    {"fifo", "is a pipe (FIFO); this input is read in pieces and must be a file"},
	    {"zero", "is a device, not a file"},
	    {"folder", "is a folder, not a file"},
	    {"link", "is a pipe (FIFO); this input is read in pieces and must be a file"},
	};
	for (const auto& c : cases)
		for (const auto& [command, option] :
		     {std::pair<std::string, std::string>{"info ", "scene "},
		      {std::string("deform --posed ") + path("posed.obj") + " -o " + path("o.obj") + " --scene ", "--scene "}})
		{
			Outcome r = run(command + path(c.name));
			EXPECT_EQ(r.code, 1) << c.name;
			EXPECT_EQ(r.err, "error: " + option + path(c.name) + ": " + c.why + "\n") << c.name;
		}
}

TEST_F(Tool, AnyNumberOfThreadsBindsTheSame)
{
	standardScene();
	for (const char* n : {"1", "2", "3"})
	{
		Outcome r = run(std::string("deform --threads ") + n + " --cage " + path("cage.obj") + " --mesh " + path("ball.obj") +
		                " --posed " + path("posed.obj") + " -o " + path(std::string("t") + n + ".obj"));
		ASSERT_EQ(r.code, 0) << r.err;
	}
	EXPECT_EQ(read(path("t1.obj")), read(path("t2.obj")));
	EXPECT_EQ(read(path("t1.obj")), read(path("t3.obj")));
	EXPECT_EQ(run("bind --threads 0 --cage " + path("cage.obj") + " --mesh " + path("ball.obj") + " -o " + path("s.vtn")).code, 2);
}

TEST_F(Tool, DeformsFrameSequencesIntoPatterns)
{
	standardScene();
	testmesh::Mesh cage = testmesh::subdividedBox({-1.2, -1.2, -1.2}, {1.2, 1.2, 1.2}, 2);
	for (int f = 1; f <= 3; ++f)
	{
		testmesh::Mesh m = cage;
		for (LVector& p : m.points)
			p.y += 0.1 * f;
		char name[32];
		std::snprintf(name, sizeof name, "cage_%04d.obj", f);
		writeMesh(name, m);
	}
	fs::create_directories(path("out"));
	Outcome r = run("deform --cage " + path("cage.obj") + " --mesh " + path("ball.obj") + " --posed '" + path("cage_{frame:04}.obj") +
	        "' --frames 1-3 -o '" + path("out/{mesh}_{frame:03}.obj") + "'");
	ASSERT_EQ(r.code, 0) << r.err;
	for (int f = 1; f <= 3; ++f)
	{
		char name[32];
		std::snprintf(name, sizeof name, "out/ball_%03d.obj", f);
		const std::vector<LVector> p = points(read(path(name)));
		ASSERT_FALSE(p.empty()) << name;
		EXPECT_NEAR(p[0].y - points(read(path("ball.obj")))[0].y, 0.1 * f, 1e-4);
	}
}

TEST_F(Tool, OutputKeepsEveryLineButThePositions)
{
	standardScene();
	const std::string rich =
	    "# a mesh with everything\r\nmtllib ball.mtl\r\no Ball\r\nv 0 0 0.5\r\nv 0.5 0 0\r\nv 0 0.5 0 1 0 0\r\n\r\nvt 0 0\r\nvt 1 0\r\nvt 0 1\r\n"
	    "vn 0 0 1\r\ng front\r\nusemtl clay\r\ns 1\r\nf 1/1/1 2/2/1 3/3/1\r\n# end\r\n";
	writeText("rich.obj", rich);
	Outcome r = run("deform --cage " + path("cage.obj") + " --mesh " + path("rich.obj") + " --posed " + path("posed.obj") + " -o " + path("out.obj"));
	ASSERT_EQ(r.code, 0) << r.err;
	const std::string out = read(path("out.obj"));
	EXPECT_EQ(nonVertexLines(out), nonVertexLines(rich));
	EXPECT_NE(out, rich) << "the positions did change";
	EXPECT_NE(out.find(" 1 0 0\r\n"), std::string::npos) << "a vertex colour stays on its line";
}

TEST_F(Tool, CheckReportsOutsidePointsAndTheSafeDistanceMap)
{
	writeMesh("cage.obj", testmesh::boxTriangles({-1, -1, -1}, {1, 1, 1}));
	writeMesh("pts.obj", testmesh::Mesh{{{0, 0, 0}, {3, 0, 0}, {0.95, 0, 0}, {0, -5, 0}}, {}});
	Outcome r = run("check --cage " + path("cage.obj") + " --mesh " + path("pts.obj") + " --json " + path("report.json"));
	ASSERT_EQ(r.code, 0) << r.err;
	EXPECT_NE(r.out.find("2 of 4 points lie outside the cage; first: 2 4"), std::string::npos) << r.out;
	const std::string json = read(path("report.json"));
	EXPECT_NE(json.find("\"tag\": \"Points outside\""), std::string::npos) << json;
	EXPECT_NE(json.find("\"outside\": true"), std::string::npos);

	writeMesh("inside.obj", testmesh::Mesh{{{0, 0, 0}, {0.95, 0, 0}, {0.5, 0.5, 0.5}}, {}});
	r = run("check --cage " + path("cage.obj") + " --mesh " + path("inside.obj") + " --safe-distance 0.2 --json " + path("map.json"));
	ASSERT_EQ(r.code, 0) << r.err;
	EXPECT_NE(r.out.find("1 lie within the safe distance 0.2"), std::string::npos) << r.out;
	EXPECT_NE(read(path("map.json")).find("Safe Distance Map >= 0.2"), std::string::npos);
}

TEST_F(Tool, BadInputGivesOneClearLine)
{
	standardScene();
	Outcome r = run("bind --cage " + path("nope.obj") + " --mesh " + path("ball.obj") + " -o " + path("s.vtn"));
	EXPECT_EQ(r.code, 1);
	EXPECT_NE(r.err.find("nope.obj"), std::string::npos) << r.err;

	writeText("bad.obj", "v 0 0 0\nf 1 2 9\n");
	r = run("bind --cage " + path("cage.obj") + " --mesh " + path("bad.obj") + " -o " + path("s.vtn"));
	EXPECT_EQ(r.code, 1);
	EXPECT_NE(r.err.find("bad.obj"), std::string::npos) << r.err;

	testmesh::Mesh open = testmesh::subdividedBox({-1.2, -1.2, -1.2}, {1.2, 1.2, 1.2}, 2);
	open.polygons.pop_back();
	writeMesh("open.obj", open);
	r = run("bind --cage " + path("open.obj") + " --mesh " + path("ball.obj") + " -o " + path("s.vtn"));
	EXPECT_EQ(r.code, 1);
	EXPECT_NE(r.err.find("open.obj"), std::string::npos) << r.err;
	EXPECT_FALSE(fs::exists(path("s.vtn")));
	EXPECT_EQ(run("bind --force --cage " + path("open.obj") + " --mesh " + path("ball.obj") + " -o " + path("s.vtn")).code, 0);

	writeMesh("small.obj", testmesh::boxTriangles({-1, -1, -1}, {1, 1, 1}));
	r = run("deform --cage " + path("cage.obj") + " --mesh " + path("ball.obj") + " --posed " + path("small.obj") + " -o " + path("x.obj"));
	EXPECT_EQ(r.code, 1);
	EXPECT_NE(r.err.find("small.obj: 8 points, but the cage has 26"), std::string::npos) << r.err;
	EXPECT_FALSE(fs::exists(path("x.obj")));

	writeText("plain", "a file where a folder should be");
	r = run("deform --cage " + path("cage.obj") + " --mesh " + path("ball.obj") + " --posed " + path("posed.obj") + " -o " + path("plain/dir/x.obj"));
	EXPECT_EQ(r.code, 1);
	EXPECT_NE(r.err.find("plain/dir/x.obj"), std::string::npos) << r.err;

	writeText("broken.vtn", "VTNSCENE\x01\x00\x00\x00garbage");
	r = run("info " + path("broken.vtn"));
	EXPECT_EQ(r.code, 1);
	EXPECT_NE(r.err.find("broken.vtn"), std::string::npos) << r.err;
}

TEST_F(Tool, AnInwardCageDeformsLikeItsOutwardTwin)
{
	standardScene();
	testmesh::Mesh inward = testmesh::subdividedBox({-1.2, -1.2, -1.2}, {1.2, 1.2, 1.2}, 2);
	for (CPolygon& f : inward.polygons)
		std::swap(f.b, f.d);
	writeMesh("inward.obj", inward);
	Outcome a = run("deform --cage " + path("cage.obj") + " --mesh " + path("ball.obj") + " --posed " + path("posed.obj") + " -o " + path("a.obj"));
	Outcome b = run("deform --cage " + path("inward.obj") + " --mesh " + path("ball.obj") + " --posed " + path("posed.obj") + " -o " + path("b.obj"));
	ASSERT_EQ(a.code, 0) << a.err;
	ASSERT_EQ(b.code, 0) << b.err;
	EXPECT_NE(b.err.find("inward"), std::string::npos) << b.err;
	const std::vector<LVector> pa = points(read(path("a.obj"))), pb = points(read(path("b.obj")));
	ASSERT_EQ(pa.size(), pb.size());
	for (size_t i = 0; i < pa.size(); ++i)
		ASSERT_NEAR(testmesh::distance(pa[i], pb[i]), 0.0, 1e-5) << i;
}

TEST_F(Tool, TheDemoWritesMeshesAndAPicture)
{
	Outcome r = run("demo --out " + path("demo"));
	ASSERT_EQ(r.code, 0) << r.err;
	EXPECT_NE(r.out.find("bunny"), std::string::npos) << r.out;
	EXPECT_NE(r.out.find("memory"), std::string::npos);
	for (const char* f : {"bunny_deformed.obj", "bar_deformed.obj", "bunny_cage_posed.obj", "bar_cage_posed.obj", "demo.png"})
		EXPECT_TRUE(fs::exists(path(std::string("demo/") + f))) << f;
	EXPECT_EQ(read(path("demo/demo.png")).substr(1, 3), "PNG");
}

TEST_F(Tool, WeightsMustMatchTheMesh)
{
	standardScene();
	std::string weights;
	for (int i = 0; i < 162; ++i)
		weights += i == 0 ? "0\n" : "1\n";
	writeText("w.txt", weights);
	Outcome r = run("deform --cage " + path("cage.obj") + " --mesh " + path("ball.obj") + " --posed " + path("posed.obj") +
	                " --weights " + path("w.txt") + " -o " + path("w.obj"));
	ASSERT_EQ(r.code, 0) << r.err;
	EXPECT_EQ(points(read(path("w.obj")))[0].x, points(read(path("ball.obj")))[0].x) << "a weight of 0 keeps the point";
	writeText("short.txt", "1\n1\n");
	r = run("deform --cage " + path("cage.obj") + " --mesh " + path("ball.obj") + " --posed " + path("posed.obj") +
	        " --weights " + path("short.txt") + " -o " + path("s.obj"));
	EXPECT_EQ(r.code, 1);
	EXPECT_NE(r.err.find("short.txt: 2 weights for 162 points"), std::string::npos) << r.err;
	EXPECT_FALSE(fs::exists(path("s.obj")));
}

// --- Memory -------------------------------------------------------------------

namespace {

// 40 962 points in a cage of 2 562 points and 5 120 triangles: 1.17 GB of
// weights, more than an address space of 800 MB holds.
void writeHeavyJob(const std::function<void(const std::string&, const testmesh::Mesh&)>& write)
{
	write("cage.obj", testmesh::icosphere({0, 0, 0}, 1.5, 4));
	write("dense.obj", testmesh::icosphere({0, 0, 0}, 1.0, 6));
}

}  // namespace

TEST_F(Tool, WeightsBeyondTheMemoryAreRefusedAndARunOutIsNamed)
{
#if defined(__SANITIZE_ADDRESS__)
	GTEST_SKIP() << "AddressSanitizer cannot start within a small address space";
#endif
	writeHeavyJob([&](const std::string& name, const testmesh::Mesh& m) { writeMesh(name, m); });
	// The limit applies to the tool alone: ulimit in the shell that runs it.
	auto limited = [&](const std::string& args) {
		const std::string command = "ulimit -v 800000 && " + std::string(MORVEXER_TOOL_PATH) + " " + args + " >" + path("out.txt") +
		                            " 2>" + path("err.txt");
		const int status = std::system(command.c_str());
		return Outcome{WIFEXITED(status) ? WEXITSTATUS(status) : -1, read(path("out.txt")), read(path("err.txt"))};
	};
	const std::string job = "--cage " + path("cage.obj") + " --mesh " + path("dense.obj");

	Outcome r = limited("bind " + job + " -o " + path("s.vtn"));
	EXPECT_EQ(r.code, 1);
	EXPECT_NE(r.err.find("error: cage: the weights need 1.17 GB but "), std::string::npos) << r.err;
	EXPECT_NE(r.err.find(" of memory is available (--force tries anyway)\n"), std::string::npos) << r.err;
	EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
	EXPECT_FALSE(fs::exists(path("s.vtn")));

	// Forced, the plug-in's request fails; the tool says so and by how much,
	// rather than that nothing could be bound.
	r = limited("bind --force " + job + " -o " + path("s.vtn"));
	EXPECT_EQ(r.code, 1);
	EXPECT_NE(r.err.find("warning: cage: the weights need 1.17 GB"), std::string::npos) << r.err;
	EXPECT_NE(r.err.find("error: cage: memory ran out while binding: "), std::string::npos) << r.err;
	EXPECT_NE(r.err.find(" was asked for at once ("), std::string::npos) << r.err;
	EXPECT_EQ(r.err.find("nothing could be bound"), std::string::npos) << r.err;
	EXPECT_FALSE(fs::exists(path("s.vtn")));

	r = limited("deform --force " + job + " --posed " + path("cage.obj") + " -o " + path("d.obj"));
	EXPECT_EQ(r.code, 1);
	EXPECT_NE(r.err.find("memory ran out while binding"), std::string::npos) << r.err;
	EXPECT_FALSE(fs::exists(path("d.obj")));
}

// --- Frame sequences ---------------------------------------------------------------

TEST_F(Tool, ASequenceWritesWhatSingleDeformsWriteAndStopsAtAFailedFile)
{
	standardScene();
	ASSERT_EQ(run("bind --cage " + path("cage.obj") + " --mesh " + path("ball.obj") + " -o " + path("scene.vtn")).code, 0);
	const testmesh::Mesh cage = testmesh::subdividedBox({-1.2, -1.2, -1.2}, {1.2, 1.2, 1.2}, 2);
	const int frames = 6;
	for (int f = 1; f <= frames; ++f)
	{
		testmesh::Mesh m = cage;
		for (LVector& p : m.points)
			p = {p.x * (1 + 0.05 * f), p.y + 0.02 * f * p.x, p.z - 0.01 * f};
		writeMesh("cage_" + std::to_string(f) + ".obj", m);
	}
	fs::create_directories(path("seq"));
	Outcome r = run("deform --scene " + path("scene.vtn") + " --posed '" + path("cage_{frame}.obj") + "' --frames 1-" +
	                std::to_string(frames) + " -o '" + path("seq/{mesh}_{frame}.obj") + "'");
	ASSERT_EQ(r.code, 0) << r.err;
	EXPECT_NE(r.out.find("wrote 6 files"), std::string::npos) << r.out;
	for (int f = 1; f <= frames; ++f)
	{
		const std::string one = "one_" + std::to_string(f) + ".obj";
		ASSERT_EQ(run("deform --scene " + path("scene.vtn") + " --posed " + path("cage_" + std::to_string(f) + ".obj") + " -o " + path(one)).code, 0);
		EXPECT_EQ(read(path(one)), read(path("seq/ball_" + std::to_string(f) + ".obj"))) << "frame " << f;
	}

	// A file that cannot be written stops the sequence there, with its name;
	// the frames before it are whole, none after it is started. (A folder in
	// the way is refused before any work; a full device only fails as written.)
	fs::create_directories(path("bad"));
	ASSERT_EQ(::mknod(path("bad/ball_4.obj").c_str(), S_IFCHR | 0666, makedev(1, 7)), 0) << "a device node like the full device";
	r = run("deform --scene " + path("scene.vtn") + " --posed '" + path("cage_{frame}.obj") + "' --frames 1-" + std::to_string(frames) +
	        " -o '" + path("bad/{mesh}_{frame}.obj") + "'");
	EXPECT_EQ(r.code, 1);
	EXPECT_NE(r.err.find(path("bad/ball_4.obj") + ": cannot write"), std::string::npos) << r.err;
	for (int f = 1; f <= 3; ++f)
		EXPECT_EQ(read(path("bad/ball_" + std::to_string(f) + ".obj")), read(path("seq/ball_" + std::to_string(f) + ".obj")));
	std::set<std::string> names;
	for (const fs::directory_entry& e : fs::directory_iterator(path("bad")))
		names.insert(e.path().filename().string());
	EXPECT_EQ(names, (std::set<std::string>{"ball_1.obj", "ball_2.obj", "ball_3.obj", "ball_4.obj"}));
	EXPECT_TRUE(fs::is_character_file(path("bad/ball_4.obj")));
}

TEST_F(Tool, CtrlCStopsASequenceAfterWholeFrames)
{
	writeMesh("cage.obj", testmesh::icosphere({0, 0, 0}, 1.5, 1));
	writeMesh("dense.obj", testmesh::icosphere({0, 0, 0}, 1.0, 5));
	ASSERT_EQ(run("--quiet bind --cage " + path("cage.obj") + " --mesh " + path("dense.obj") + " -o " + path("s.vtn")).code, 0);
	testmesh::Mesh posed = testmesh::icosphere({0, 0, 0}, 1.5, 1);
	for (LVector& p : posed.points)
		p.x *= 1.2;
	writeMesh("posed_1.obj", posed);
	const int frames = 2000;
	for (int f = 2; f <= frames; ++f)
		fs::copy_file(path("posed_1.obj"), path("posed_" + std::to_string(f) + ".obj"));
	fs::create_directories(path("out"));
	const std::string command = std::string(MORVEXER_TOOL_PATH) + " --quiet deform --scene " + path("s.vtn") + " --posed \"" +
	                            path("posed_{frame}.obj") + "\" --frames 1-" + std::to_string(frames) + " -o \"" + path("out/f{frame}.obj") +
	                            "\" 2>" + path("err.txt") + " & pid=$!; until grep -q \"step: deforming posed_20.obj\" " +
	                            path("err.txt") + " || ! kill -0 $pid; do sleep 0.01; done; kill -INT $pid; wait $pid";
	// The tool announces its steps, so Ctrl-C comes amid the sequence however loaded the machine.
	const int status = std::system(("MORVEXER_TEST_STEPS= bash -c '" + command + "'").c_str());
	ASSERT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, 130) << read(path("err.txt"));
	const std::string err = read(path("err.txt"));
	const size_t at = err.find("; stopped after ");
	ASSERT_NE(at, std::string::npos) << err;
	EXPECT_NE(err.rfind("interrupted: Ctrl-C while ", at), std::string::npos) << err;
	const int written = std::atoi(err.c_str() + at + 16);
	EXPECT_LT(written, frames);
	// Exactly the first frames, each the same whole file; nothing else.
	std::set<std::string> names, expected;
	for (const fs::directory_entry& e : fs::directory_iterator(path("out")))
		names.insert(e.path().filename().string());
	for (int f = 1; f <= written; ++f)
		expected.insert("f" + std::to_string(f) + ".obj");
	EXPECT_EQ(names, expected);
	if (written > 0)
	{
		const std::string first = read(path("out/f1.obj"));
		EXPECT_EQ(first, read(path("out/f" + std::to_string(written) + ".obj")));
		EXPECT_EQ(points(first).size(), 10242u);
	}
}

// Points exactly on the cage: its corners, its edges at and off their middle,
// its faces' centres, points off them and on the diagonals the quads are cut
// along. The rest cage gives them back and a similarity of it moves them
// alike, within a millionth of the cage's diagonal.
TEST_F(Tool, PointsOnTheCageStayAtRestAndFollowASimilarity)
{
	const testmesh::Mesh cube = testmesh::box({-1, -1, -1}, {1, 1, 1});
	writeMesh("cube.obj", cube);
	testmesh::Mesh pts;
	pts.points = cube.points;
	for (int axis = 0; axis < 3; ++axis)
		for (double u : {-1.0, 1.0})
			for (double v : {-1.0, 1.0})
				for (double w : {0.0, 0.5})
				{
					double c[3];
					c[axis] = w;
					c[(axis + 1) % 3] = u;
					c[(axis + 2) % 3] = v;
					pts.points.push_back({c[0], c[1], c[2]});
				}
	for (int axis = 0; axis < 3; ++axis)
		for (double side : {-1.0, 1.0})
			for (const auto& [u, v] : {std::pair{0.0, 0.0}, std::pair{0.3, -0.6}, std::pair{0.5, 0.5}, std::pair{-0.25, 0.25}})
			{
				double c[3];
				c[axis] = side;
				c[(axis + 1) % 3] = u;
				c[(axis + 2) % 3] = v;
				pts.points.push_back({c[0], c[1], c[2]});
			}
	pts.polygons.push_back({0, 1, 2, 2});
	writeMesh("pts.obj", pts);

	const double diag = 2 * std::sqrt(3.0);
	struct Pose
	{
		const char* name;
		LMatrix matrix;
		double scale;
	};
	const Pose poses[] = {
		{"rest", testmesh::identity(), 1.0},
		{"similarity", testmesh::product(testmesh::translation({0.3, -2, 1}), testmesh::product(testmesh::rotation({1, 2, -1}, 0.8), testmesh::scaling(1.7))),
		 1.7},
	};
	for (const Pose& pose : poses)
	{
		writeMesh("posed.obj", testmesh::transformed(cube, pose.matrix));
		const Outcome r = run("deform --cage " + path("cube.obj") + " --mesh " + path("pts.obj") + " --posed " + path("posed.obj") + " -o " +
		                      path("out.obj"));
		ASSERT_EQ(r.code, 0) << pose.name << ": " << r.err;
		const std::vector<LVector> out = points(read(path("out.obj")));
		ASSERT_EQ(out.size(), pts.points.size()) << pose.name;
		for (size_t i = 0; i < out.size(); ++i)
		{
			const LVector& p = pts.points[i];
			EXPECT_LE(testmesh::distance(out[i], testmesh::apply(pose.matrix, p)), 1e-6 * diag * pose.scale)
			    << pose.name << ": (" << p.x << ", " << p.y << ", " << p.z << ") went to (" << out[i].x << ", " << out[i].y << ", "
			    << out[i].z << ")";
		}
	}
}
