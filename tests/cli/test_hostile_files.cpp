// The tool against careless and hostile file names, through the real binary:
// devices, pipes, links, folders, read-only files and outputs that are inputs
// or each other, placeholders it does not know, inputs that never end and
// frame ranges at the ends of 64 bits. Device nodes, pipes and links are made
// in a temporary folder; the machine's own devices are never touched.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

// A cube cage of corners +-1, three points inside it with one face, and the
// cube with one corner pulled out.
const char* const kCube =
	"v -1 -1 -1\nv 1 -1 -1\nv 1 1 -1\nv -1 1 -1\nv -1 -1 1\nv 1 -1 1\nv 1 1 1\nv -1 1 1\n"
	"f 1 4 3 2\nf 5 6 7 8\nf 1 2 6 5\nf 2 3 7 6\nf 3 4 8 7\nf 4 1 5 8\n";
const char* const kMesh = "v 0 0 0\nv 0.5 0.2 0.1\nv -0.3 0.4 0.2\nf 1 2 3\n";

std::string posedCube()
{
	std::string text = kCube;
	text.replace(text.find("v 1 1 1\n"), 8, "v 1.5 1.5 1.5\n");
	return text;
}

class Folder
{
public:
	Folder()
	{
		std::string tmpl = (fs::temp_directory_path() / "morvexer-hostile-XXXXXX").string();
		if (::mkdtemp(tmpl.data()))
			dir_ = tmpl;
		write("cube.obj", kCube);
		write("m.obj", kMesh);
		write("posed.obj", posedCube());
	}
	~Folder()
	{
		// A pipe nobody opened for writing holds its reader: open and close it once.
		for (const std::string& f : fifos_)
			::close(::open(at(f).c_str(), O_WRONLY | O_NONBLOCK));
		std::error_code ec;
		fs::permissions(dir_, fs::perms::all, ec);
		fs::remove_all(dir_, ec);
	}
	const std::string& dir() const { return dir_; }
	std::string at(const std::string& name) const { return dir_ + "/" + name; }
	void write(const std::string& name, const std::string& text, fs::perms mode = fs::perms(0644)) const
	{
		fs::create_directories(fs::path(at(name)).parent_path());
		std::ofstream(at(name), std::ios::binary) << text;
		fs::permissions(at(name), mode);
	}
	std::string read(const std::string& name) const
	{
		std::ifstream in(at(name), std::ios::binary);
		std::ostringstream s;
		s << in.rdbuf();
		return s.str();
	}
	// Character devices with the null device's numbers (1, 3) or the full one's (1, 7).
	void device(const std::string& name, unsigned minor) const { ASSERT_EQ(::mknod(at(name).c_str(), S_IFCHR | 0666, makedev(1, minor)), 0); }
	void fifo(const std::string& name)
	{
		ASSERT_EQ(::mkfifo(at(name).c_str(), 0666), 0);
		fifos_.push_back(name);
	}
	void link(const std::string& target, const std::string& name) const { ASSERT_EQ(::symlink(target.c_str(), at(name).c_str()), 0); }
	mode_t kind(const std::string& name) const
	{
		struct stat st;
		return ::lstat(at(name).c_str(), &st) == 0 ? st.st_mode & S_IFMT : 0;
	}
	mode_t mode(const std::string& name) const
	{
		struct stat st;
		return ::stat(at(name).c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
	}
	std::vector<std::string> names(const std::string& sub = "") const
	{
		std::vector<std::string> out;
		std::error_code ec;  // a folder that is not there lists nothing
		for (const fs::directory_entry& e : fs::directory_iterator(sub.empty() ? dir_ : at(sub), ec))
			out.push_back(e.path().filename().string());
		std::sort(out.begin(), out.end());
		return out;
	}

	struct Outcome
	{
		int code;
		std::string out, err;
	};
	// The tool run in the folder, after a shell step (a writer or reader on a pipe).
	Outcome run(const std::string& args, const std::string& before = "") const
	{
		const std::string out = at(".stdout"), err = at(".stderr");
		const std::string command = "cd '" + dir_ + "' && " + (before.empty() ? "" : before + " ") + "timeout 120 " + MORVEXER_TOOL_PATH +
		                            " " + args + " >" + out + " 2>" + err;
		const int status = std::system(command.c_str());
		Outcome r{WIFEXITED(status) ? WEXITSTATUS(status) : -1, read(".stdout"), read(".stderr")};
		fs::remove(out);
		fs::remove(err);
		return r;
	}

private:
	std::string dir_;
	std::vector<std::string> fifos_;
};

const std::string kDeform = "deform --cage cube.obj --mesh m.obj --posed posed.obj ";
const std::string kBind = "bind --cage cube.obj --mesh m.obj ";

struct Case
{
	const char* name;
	std::function<void(Folder&)> setUp;
	std::string args;
	int code;
	std::string error;  // a part of the one error line; empty: no error
	std::function<void(const Folder&)> check;
	std::string before = "";  // a shell step before the tool
};

bool hasPoints(const std::string& text) { return text.find("\nv ") != std::string::npos || text.rfind("v ", 0) == 0; }

void runCases(const std::vector<Case>& cases)
{
	for (const Case& c : cases)
	{
		SCOPED_TRACE(c.name);
		Folder f;
		const bool failedBefore = ::testing::Test::HasFatalFailure();
		if (c.setUp)
			c.setUp(f);
		if (::testing::Test::HasFatalFailure() && !failedBefore)
			continue;  // this case could not be set up
		const Folder::Outcome r = f.run(c.args, c.before);
		EXPECT_EQ(r.code, c.code) << r.err;
		if (c.error.empty())
			EXPECT_EQ(r.err.find("error"), std::string::npos) << r.err;
		else
		{
			EXPECT_EQ(r.err.rfind("error: ", 0), 0u) << r.err;
			EXPECT_NE(r.err.find(c.error), std::string::npos) << r.err;
			EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << "one line: " << r.err;
		}
		if (c.check)
			c.check(f);
	}
}

// Every input, as it was before the run.
auto inputsKept = [](const Folder& f) {
	EXPECT_EQ(f.read("cube.obj"), kCube);
	EXPECT_EQ(f.read("m.obj"), kMesh);
	EXPECT_EQ(f.read("posed.obj"), posedCube());
};

}  // namespace

TEST(HostileFiles, OutputsThatAreDevicesPipesOrLinksAreWrittenNotReplaced)
{
	auto stillDevice = [](const Folder& f) { EXPECT_EQ(f.kind("dev"), S_IFCHR); };
	runCases({
		{"deform to a device", [](Folder& f) { f.device("dev", 3); }, kDeform + "-o dev", 0, "", stillDevice},
		{"bind to a device", [](Folder& f) { f.device("dev", 3); }, kBind + "-o dev", 0, "", stillDevice},
		{"check's report to a device", [](Folder& f) { f.device("dev", 3); }, "check --cage cube.obj --mesh m.obj --json dev", 0, "",
		 stillDevice},
		{"a full device says so", [](Folder& f) { f.device("dev", 7); }, kBind + "-o dev", 1, "dev: cannot write the scene file: No space left on device",
		 stillDevice},
		{"deform into a pipe", [](Folder& f) { f.fifo("pipe"); }, kDeform + "-o pipe", 0, "",
		 [](const Folder& f) {
			 EXPECT_EQ(f.kind("pipe"), S_IFIFO);
			 EXPECT_TRUE(hasPoints(f.read("got.obj"))) << f.read("got.obj");
		 },
		 "(timeout 120 cat pipe > got.obj &);"},
		{"through a link, the link stays",
		 [](Folder& f) {
			 f.write("real/t.obj", "old");
			 f.link("real/t.obj", "link.obj");
		 },
		 kDeform + "-o link.obj", 0, "",
		 [](const Folder& f) {
			 EXPECT_EQ(f.kind("link.obj"), S_IFLNK);
			 EXPECT_TRUE(hasPoints(f.read("real/t.obj")));
			 EXPECT_EQ(f.names("real"), std::vector<std::string>{"t.obj"}) << "written in the target's folder, nothing left";
		 }},
		{"through a dangling link, its target is made",
		 [](Folder& f) {
			 fs::create_directories(f.at("real"));
			 f.link("real/new.obj", "link.obj");
		 },
		 kDeform + "-o link.obj", 0, "",
		 [](const Folder& f) {
			 EXPECT_EQ(f.kind("link.obj"), S_IFLNK);
			 EXPECT_TRUE(hasPoints(f.read("real/new.obj")));
		 }},
	});
}

TEST(HostileFiles, AnOutputThatIsAnInputIsRefusedBeforeAnyWork)
{
	auto untouched = [](const std::string& absent) {
		return [absent](const Folder& f) {
			inputsKept(f);
			EXPECT_FALSE(fs::exists(f.at(absent))) << absent;
		};
	};
	auto scene = [](Folder& f) { ASSERT_EQ(f.run(kBind + "-o s.vtn").code, 0); };
	runCases({
		{"the mesh", nullptr, kDeform + "-o m.obj", 1, "-o m.obj: the same file as the input --mesh m.obj", untouched("x")},
		{"the cage", nullptr, kDeform + "-o cube.obj", 1, "-o cube.obj: the same file as the input --cage cube.obj", untouched("x")},
		{"the posed cage", nullptr, kDeform + "-o posed.obj", 1, "-o posed.obj: the same file as the input --posed posed.obj", untouched("x")},
		{"the mesh through a folder yet to be made", nullptr, kDeform + "-o new/../m.obj", 1, "the same file as the input --mesh m.obj",
		 untouched("new")},
		{"the mesh through a link", [](Folder& f) { f.link("m.obj", "l.obj"); }, kDeform + "-o l.obj", 1, "-o l.obj: the same file as the input --mesh m.obj",
		 untouched("x")},
		{"the mesh through a hard link", [](Folder& f) { fs::create_hard_link(f.at("m.obj"), f.at("h.obj")); }, kDeform + "-o h.obj", 1,
		 "-o h.obj: the same file as the input --mesh m.obj", untouched("x")},
		{"bind onto its mesh", nullptr, kBind + "-o m.obj", 1, "-o m.obj: the same file as the input --mesh m.obj", untouched("x")},
		{"bind onto its cage", nullptr, kBind + "-o ./cube.obj", 1, "-o ./cube.obj: the same file as the input --cage cube.obj", untouched("x")},
		{"deform onto its scene", scene, "deform --scene s.vtn --posed posed.obj -o s.vtn", 1, "-o s.vtn: the same file as the input --scene s.vtn",
		 nullptr},
		{"deform onto its weights", [](Folder& f) { f.write("w.txt", "1 1 1\n"); }, kDeform + "--weights w.txt -o w.txt", 1,
		 "-o w.txt: the same file as the input --weights w.txt", [](const Folder& f) { EXPECT_EQ(f.read("w.txt"), "1 1 1\n"); }},
		{"check's report onto the mesh", nullptr, "check --cage cube.obj --mesh m.obj --json m.obj", 1,
		 "--json m.obj: the same file as the input --mesh m.obj", untouched("x")},
		// Neighbours: a posed cage that is the rest cage is read twice, no harm.
		{"an input twice", nullptr, "deform --cage cube.obj --mesh m.obj --posed cube.obj -o out.obj", 0, "",
		 [](const Folder& f) { EXPECT_TRUE(hasPoints(f.read("out.obj"))); }},
	});
}

TEST(HostileFiles, OutputsOfOneRunNeverShareAFile)
{
	auto nothingWritten = [](const Folder& f) {
		EXPECT_EQ(f.names(), (std::vector<std::string>{"cube.obj", "m.obj", "posed.obj", "posed1.obj", "posed2.obj"}));
	};
	auto poses = [](Folder& f) {
		f.write("posed1.obj", posedCube());
		f.write("posed2.obj", posedCube());
	};
	const std::string frames = "deform --cage cube.obj --mesh m.obj --posed 'posed{frame}.obj' --frames 1-2 ";
	runCases({
		{"a width that cuts", poses, frames + "-o 'o_{frame:32}.obj'", 1, "-o o_{frame:32}.obj: the width in {frame:32} must be a number from 1 to 9",
		 nothingWritten},
		{"a width of no digits", poses, frames + "-o 'o_{frame:abc}.obj'", 1, "the width in {frame:abc} must be a number from 1 to 9", nothingWritten},
		{"a width of zero", poses, frames + "-o 'o_{frame:0}.obj'", 1, "the width in {frame:0}", nothingWritten},
		{"a placeholder cut short", poses, frames + "-o 'o_{frame_{frame}.obj'", 1, "unknown placeholder {frame_{frame}", nothingWritten},
		{"an unknown placeholder", poses, frames + "-o 'o_{foo}_{frame}.obj'", 1, "unknown placeholder {foo}", nothingWritten},
		{"an open brace", poses, frames + "-o 'o_{frame.obj'", 1, "a '{' without its '}'", nothingWritten},
		{"{mesh} in a posed cage", poses, "deform --cage cube.obj --mesh m.obj --posed 'posed{mesh}{frame}.obj' --frames 1-2 -o 'o{frame}.obj'", 1,
		 "--posed posed{mesh}{frame}.obj: {mesh} has no meaning here", nothingWritten},
		{"two meshes of one name",
		 [](Folder& f) {
			 f.write("a/m.obj", kMesh);
			 f.write("b/m.obj", kMesh);
		 },
		 "deform --cage cube.obj --mesh a/m.obj --mesh b/m.obj --posed posed.obj -o 'o_{mesh}.obj'", 1,
		 "-o o_{mesh}.obj: two meshes are named 'm', so {mesh} gives both one file",
		 [](const Folder& f) { EXPECT_EQ(f.names(), (std::vector<std::string>{"a", "b", "cube.obj", "m.obj", "posed.obj"})); }},
		{"two outputs one file through a link",
		 [](Folder& f) {
			 f.write("n.obj", kMesh);
			 f.write("o_m.obj", "old");
			 f.link("o_m.obj", "o_n.obj");
		 },
		 "deform --cage cube.obj --mesh m.obj --mesh n.obj --posed posed.obj -o 'o_{mesh}.obj'", 1, "-o o_n.obj: written twice in one run (also as -o o_m.obj)",
		 [](const Folder& f) { EXPECT_EQ(f.read("o_m.obj"), "old"); }},
		// Neighbours that write.
		{"a width of 4", poses, frames + "-o 'o_{frame:04}.obj'", 0, "",
		 [](const Folder& f) {
			 EXPECT_TRUE(hasPoints(f.read("o_0001.obj")));
			 EXPECT_TRUE(hasPoints(f.read("o_0002.obj")));
		 }},
		{"a width of 9", poses, frames + "-o 'o_{frame:9}.obj'", 0, "", [](const Folder& f) { EXPECT_TRUE(hasPoints(f.read("o_000000002.obj"))); }},
	});
}

TEST(HostileFiles, ExistingOutputsAndMissingFolders)
{
	runCases({
		{"a read-only file is kept", [](Folder& f) { f.write("ro.obj", "keep", fs::perms(0444)); }, kDeform + "-o ro.obj", 1,
		 "-o ro.obj: the file is read-only",
		 [](const Folder& f) {
			 EXPECT_EQ(f.read("ro.obj"), "keep");
			 EXPECT_EQ(f.mode("ro.obj"), 0444u);
		 }},
		{"a read-only scene is kept", [](Folder& f) { f.write("ro.vtn", "keep", fs::perms(0400)); }, kBind + "-o ro.vtn", 1,
		 "-o ro.vtn: the file is read-only", [](const Folder& f) { EXPECT_EQ(f.read("ro.vtn"), "keep"); }},
		{"a writable file is replaced and keeps its mode", [](Folder& f) { f.write("rw.obj", "old", fs::perms(0640)); }, kDeform + "-o rw.obj", 0, "",
		 [](const Folder& f) {
			 EXPECT_TRUE(hasPoints(f.read("rw.obj")));
			 EXPECT_EQ(f.mode("rw.obj"), 0640u);
		 }},
		{"a folder as output", [](Folder& f) { fs::create_directories(f.at("sub")); }, kDeform + "-o sub", 1, "-o sub: is a folder, not a file",
		 nullptr},
		{"missing folders are made", nullptr,
		 "deform --cage cube.obj --mesh m.obj --posed posed.obj --posed cube.obj -o 'out/deep/{mesh}_{frame:04}.obj'", 0, "",
		 [](const Folder& f) { EXPECT_EQ(f.names("out/deep"), (std::vector<std::string>{"m_0001.obj", "m_0002.obj"})); }},
		{"a scene's folder is made", nullptr, kBind + "-o scenes/s.vtn", 0, "", [](const Folder& f) { EXPECT_TRUE(fs::is_regular_file(f.at("scenes/s.vtn"))); }},
		{"a file where a folder must go", [](Folder& f) { f.write("plain", "x"); }, kDeform + "-o plain/sub/o.obj", 1, "-o plain/sub/o.obj",
		 [](const Folder& f) { EXPECT_EQ(f.read("plain"), "x"); }},
	});
}

TEST(HostileFiles, InputsMustBeFilesOrPipes)
{
	auto scene = [](Folder& f) { ASSERT_EQ(f.run(kBind + "-o s.vtn").code, 0); };
	runCases({
		{"a folder as mesh", [](Folder& f) { fs::create_directories(f.at("sub")); }, "deform --cage cube.obj --mesh sub --posed posed.obj -o o.obj", 1,
		 "--mesh sub: is a folder, not a file", nullptr},
		{"a device as cage", [](Folder& f) { f.device("dev", 3); }, "check --cage dev --mesh m.obj", 1, "--cage dev: is a device, not a file", nullptr},
		{"a device as posed cage", [](Folder& f) { f.device("dev", 3); }, "deform --cage cube.obj --mesh m.obj --posed dev -o o.obj", 1,
		 "--posed dev: is a device, not a file", nullptr},
		{"a missing mesh", nullptr, kBind + "--mesh none.obj -o s.vtn", 1, "--mesh none.obj: no such file", nullptr},
		{"a folder as weights", [](Folder& f) { fs::create_directories(f.at("sub")); }, kDeform + "--weights sub -o o.obj", 1,
		 "--weights sub: is a folder, not a file", [](const Folder& f) { EXPECT_FALSE(fs::exists(f.at("o.obj"))); }},
		{"a pipe as scene", [](Folder& f) { f.fifo("pipe"); }, "deform --scene pipe --posed posed.obj -o o.obj", 1,
		 "--scene pipe: is a pipe (FIFO); this input is read in pieces and must be a file", nullptr},
		{"a device as scene to inspect", [](Folder& f) { f.device("dev", 3); }, "info dev", 1, "scene dev: is a device, not a file", nullptr},
		{"a folder as plug-in",
		 [scene](Folder& f) {
			 scene(f);
			 fs::create_directories(f.at("sub"));
		 },
		 "--plugin sub info s.vtn", 1,
		 "sub: is a folder, not a plug-in module", nullptr},
		// Neighbours: a pipe is read where reading once from start to end is meant.
		{"a mesh from a pipe", [](Folder& f) { f.fifo("pipe"); }, "deform --cage cube.obj --mesh pipe --posed posed.obj -o o.obj", 0, "",
		 [](const Folder& f) { EXPECT_TRUE(hasPoints(f.read("o.obj"))); }, "(timeout 120 cat m.obj > pipe &);"},
		{"a scene file", scene, "deform --scene s.vtn --posed posed.obj -o o.obj", 0, "", nullptr},
	});
}

TEST(HostileFiles, WeightsAreReadNoFurtherThanTheirCount)
{
	auto none = [](const Folder& f) { EXPECT_FALSE(fs::exists(f.at("o.obj"))); };
	runCases({
		{"a binary file, its bytes not shown", [](Folder& f) { f.write("w.bin", std::string("\x01\xff\x1b[31mred\0", 10)); },
		 kDeform + "--weights w.bin -o o.obj", 1, "w.bin: not a text file of numbers (byte 0x01 at offset 0)",
		 none},
		{"a million weights for three points", [](Folder& f) { f.write("w.txt", [] {
			 std::string s;
			 for (int i = 0; i < 1000000; ++i)
				 s += "0.5\n";
			 return s;
		 }()); },
		 kDeform + "--weights w.txt -o o.obj", 1, "w.txt: more than 3 weights for 3 points", none},
		{"an endless pipe", [](Folder& f) { f.fifo("w"); }, kDeform + "--weights w -o o.obj", 1, "w: more than 3 weights for 3 points", none,
		 "(timeout 120 yes 0.5 > w 2>/dev/null &);"},
		{"endless blanks", [](Folder& f) { f.fifo("w"); }, kDeform + "--weights w -o o.obj", 1, "w: longer than a file of 3 weights can be", none,
		 "(timeout 120 yes '' > w 2>/dev/null &);"},
		{"a number without end", [](Folder& f) { f.write("w.txt", std::string(100, '1')); }, kDeform + "--weights w.txt -o o.obj", 1,
		 "w.txt: a number of more than 64 characters at offset 0", none},
		{"too few", [](Folder& f) { f.write("w.txt", "1 1\n"); }, kDeform + "--weights w.txt -o o.obj", 1, "w.txt: 2 weights for 3 points", none},
		{"exactly enough", [](Folder& f) { f.write("w.txt", "1\n0.5\r\n0\n"); }, kDeform + "--weights w.txt -o o.obj", 0, "",
		 [](const Folder& f) { EXPECT_TRUE(hasPoints(f.read("o.obj"))); }},
	});
}

TEST(HostileFiles, ABinaryWeightsFileNeverReachesTheTerminal)
{
	Folder f;
	f.write("w.bin", std::string("12 \x1b]0;title\x07 \xff\xfe", 16));
	const Folder::Outcome r = f.run(kDeform + "--weights w.bin -o o.obj");
	EXPECT_EQ(r.code, 1);
	for (char c : r.err)
		EXPECT_TRUE(c == '\n' || (c >= 0x20 && c < 0x7f)) << "byte " << int(static_cast<unsigned char>(c)) << " in: " << r.err;
}

TEST(HostileFiles, FramesAreCountedNotListedAndNeverOverflow)
{
	auto poses = [](const std::vector<std::string>& names) {
		return [names](Folder& f) {
			for (const std::string& n : names)
				f.write(n, posedCube());
		};
	};
	const std::string base = "deform --cage cube.obj --mesh m.obj --posed 'p{frame}.obj' ";
	const std::string top = "9223372036854775807";
	runCases({
		{"a billion frames stop at the first missing one", poses({"p1.obj"}), base + "--frames 1-1000000000 -o 'o{frame}.obj'", 1,
		 "--posed p2.obj: no such file", [](const Folder& f) { EXPECT_FALSE(fs::exists(f.at("o1.obj"))); }},
		{"the last 64-bit frame", poses({"p" + top + ".obj"}), base + "--frames " + top + "-" + top + " -o 'o{frame}.obj'", 0, "",
		 [top](const Folder& f) { EXPECT_TRUE(hasPoints(f.read("o" + top + ".obj"))); }},
		{"a posed cage far larger than the cage",
		 [](Folder& f) { f.write("big.obj", posedCube() + std::string(2 << 20, '#')); },
		 "deform --cage cube.obj --mesh m.obj --posed big.obj -o o.obj", 1, "--posed big.obj: 2097294 bytes, more than a posed cage of 8 points takes",
		 [](const Folder& f) { EXPECT_FALSE(fs::exists(f.at("o.obj"))); }},
		{"a step past the end", poses({"p1.obj"}), base + "--frames 1-2:" + top + " -o 'o{frame}.obj'", 0, "",
		 [](const Folder& f) {
			 EXPECT_TRUE(hasPoints(f.read("o1.obj")));
			 EXPECT_EQ(f.names().size(), 5u) << "one frame only";
		 }},
		{"a step that lands on the top", poses({"p1.obj", "p" + top + ".obj"}), base + "--frames 1-" + top + ":9223372036854775806 -o 'o{frame}.obj'", 0, "",
		 [top](const Folder& f) { EXPECT_TRUE(hasPoints(f.read("o" + top + ".obj"))); }},
	});
}
