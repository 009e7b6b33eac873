// The host's platform layer: files replaced in one step, file problems named,
// paths split and joined by the system's rules, names beyond ASCII, programs
// started with their arguments intact.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#if !defined(_WIN32)
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include "support/temp_folder.h"
#include "vtnhost/platform.h"

namespace fs = std::filesystem;
namespace platform = vtnhost::platform;

namespace {

std::string read(const std::string& path)
{
	std::string content, problem;
	EXPECT_TRUE(platform::readFile(path, &content, &problem)) << path << ": " << problem;
	return content;
}

size_t entries(const std::string& dir)
{
	return static_cast<size_t>(std::distance(fs::directory_iterator(platform::fsPath(dir)), fs::directory_iterator()));
}

}  // namespace

TEST(HostPlatform, AtomicWritesReplaceAnExistingFileAndLeaveNothingElse)
{
	TemporaryFolder dir;
	const std::string path = platform::joinPath(dir.path(), "scene.vtn");
	std::string problem;
	ASSERT_TRUE(platform::writeFileAtomic(path, "first", &problem)) << problem;
	// std::rename refuses this on Windows: the file exists.
	ASSERT_TRUE(platform::writeFileAtomic(path, std::string(100000, 'x'), &problem)) << problem;
	EXPECT_EQ(read(path), std::string(100000, 'x'));
	EXPECT_EQ(entries(dir.path()), 1u) << "no temporary file stays behind";

	EXPECT_FALSE(platform::writeFileAtomic(platform::joinPath(platform::joinPath(dir.path(), "missing"), "x"), "data", &problem));
	EXPECT_FALSE(problem.empty());
	EXPECT_FALSE(platform::writeFileAtomic(dir.path(), "data", &problem)) << "a folder is not replaced by a file";
	EXPECT_TRUE(platform::isDirectory(dir.path()));
	EXPECT_EQ(entries(dir.path()), 1u);
}

TEST(HostPlatform, AtomicWritesToOnePathAtOnceNeverMeetInOneTemporaryFile)
{
	TemporaryFolder dir;
	const std::string path = platform::joinPath(dir.path(), "scene.vtn");
	// What a writer with a fixed temporary name would trip over.
	ASSERT_TRUE(fs::create_directory(platform::fsPath(path + ".tmp")));
	std::string problem;
	ASSERT_TRUE(platform::writeFileAtomic(path, "alone", &problem)) << problem;
	EXPECT_EQ(read(path), "alone");
	fs::remove(platform::fsPath(path + ".tmp"));

	// Two writers, each of its own whole content, saving to one path in turns
	// that overlap: every save succeeds and the file is always one of them, whole.
	const std::string a(200000, 'a'), b(300000, 'b');
	bool ok_a = true, ok_b = true;
	auto writer = [&](const std::string* content, bool* ok) {
		std::string why;
		for (int i = 0; i < 20; ++i)
			*ok = platform::writeFileAtomic(path, *content, &why) && *ok;
	};
	std::thread other(writer, &b, &ok_b);
	writer(&a, &ok_a);
	other.join();
	EXPECT_TRUE(ok_a);
	EXPECT_TRUE(ok_b);
	const std::string last = read(path);
	EXPECT_TRUE(last == a || last == b) << "a file of " << last.size() << " bytes";
	EXPECT_EQ(entries(dir.path()), 1u) << "no temporary file stays behind";
}

TEST(HostPlatform, ReadingNamesTheProblem)
{
	TemporaryFolder dir;
	std::string content, problem;
	EXPECT_FALSE(platform::readFile(platform::joinPath(dir.path(), "missing"), &content, &problem));
	EXPECT_EQ(problem, "no such file");
	EXPECT_FALSE(platform::readFile(dir.path(), &content, &problem));
	EXPECT_EQ(problem, "is a folder, not a file");
	const std::string path = platform::joinPath(dir.path(), "five");
	ASSERT_TRUE(platform::writeFileAtomic(path, "12345", &problem)) << problem;
	EXPECT_FALSE(platform::readFile(path, &content, &problem, 4));
	EXPECT_EQ(problem, "larger than 4 bytes");
	EXPECT_TRUE(platform::readFile(path, &content, &problem, 5)) << problem;
	EXPECT_EQ(content, "12345");
	EXPECT_TRUE(platform::exists(path));
	EXPECT_FALSE(platform::isDirectory(path));
}

TEST(HostPlatform, FileNamesBeyondAsciiReachTheFileSystemWhole)
{
	TemporaryFolder dir;
	const std::string name = "h\xC3\xA4schen-\xE6\x97\xA5\xE6\x9C\xAC.vtn";  // häschen-日本.vtn in UTF-8
	const std::string path = platform::joinPath(dir.path(), name);
	std::string problem;
	ASSERT_TRUE(platform::writeFileAtomic(path, "data", &problem)) << problem;
	EXPECT_EQ(read(path), "data");
	EXPECT_TRUE(platform::exists(path));
	ASSERT_EQ(entries(dir.path()), 1u);
	const fs::path found = fs::directory_iterator(platform::fsPath(dir.path()))->path().filename();
	EXPECT_EQ(found, platform::fsPath(name)) << "the name on disk is the one given, not a code page's version of it";
}

TEST(HostPlatform, PathsSplitAndJoinByTheSystemsRules)
{
	EXPECT_EQ(platform::joinPath("a/", "b"), "a/b");
	EXPECT_EQ(platform::joinPath("a/b", "c"), "a/b/c");
	EXPECT_EQ(platform::joinPath("", "b"), "b");
	EXPECT_EQ(platform::joinPath("a", ""), "a");
	EXPECT_EQ(platform::directoryOf("/x"), "/");
	EXPECT_EQ(platform::directoryOf("a/b/c.vxl"), "a/b");
	EXPECT_EQ(platform::directoryOf("c.vxl"), "");
	EXPECT_EQ(platform::fileNameOf("a/b/c.vxl"), "c.vxl");
	EXPECT_EQ(platform::fileNameOf("c.vxl"), "c.vxl");
#if defined(_WIN32)
	EXPECT_EQ(platform::joinPath("a", "b"), "a\\b");
	EXPECT_EQ(platform::joinPath("C:\\plugins", "res"), "C:\\plugins\\res");
	EXPECT_EQ(platform::joinPath("C:\\plugins/morvexer", "res"), "C:\\plugins/morvexer/res") << "the separator in use";
	EXPECT_EQ(platform::joinPath("C:", "res"), "C:res");
	EXPECT_EQ(platform::directoryOf("C:\\morvexer.vxl"), "C:\\");
	EXPECT_EQ(platform::directoryOf("C:morvexer.vxl"), "C:");
	EXPECT_EQ(platform::directoryOf("C:\\plugins\\morvexer.vxl"), "C:\\plugins");
	EXPECT_EQ(platform::fileNameOf("C:\\plugins\\morvexer.vxl"), "morvexer.vxl");
	EXPECT_EQ(platform::fileNameOf("C:morvexer.vxl"), "morvexer.vxl");
#else
	EXPECT_EQ(platform::joinPath("a", "b"), "a/b");
	EXPECT_EQ(platform::directoryOf("a\\b"), "") << "a backslash is part of a POSIX name";
	EXPECT_EQ(platform::fileNameOf("a\\b"), "a\\b");
#endif
}

TEST(HostPlatform, ProgramsStartWithTheirArgumentsIntact)
{
	TemporaryFolder dir;
	const std::string out = platform::joinPath(dir.path(), "args");
	const std::vector<std::string> args = {"plain", "with space", "quote\"inside", "trailing\\", "back\\\\slashes\\\"q",
	                                       "", "h\xC3\xA4schen"};
	std::vector<std::string> command = {ARGS_ECHO_PATH, out};
	command.insert(command.end(), args.begin(), args.end());
	ASSERT_EQ(platform::runProcess(command), 0);
	std::string expected;
	for (const std::string& a : args)
		expected += a + '\0';
	EXPECT_EQ(read(out), expected);

	EXPECT_EQ(platform::runProcess({ARGS_ECHO_PATH}), 2) << "the exit status comes back";
	EXPECT_EQ(platform::runProcess({platform::joinPath(dir.path(), "no-such-program")}), -1);
}

TEST(HostPlatform, AvailableMemoryIsSomeAndHeedsTheAddressSpaceLimit)
{
	const uint64_t available = platform::availableMemory();
	EXPECT_GT(available, uint64_t{16} << 20) << "a machine that runs the tests has more than 16 MB free";
#if !defined(_WIN32) && !defined(__SANITIZE_ADDRESS__)
	// In a child, so the limit stays there: what is left below a limit of
	// 1.5 GB is less than 1.5 GB (code and stacks are mapped already), and no
	// more than the machine's free memory.
	const pid_t child = ::fork();
	ASSERT_GE(child, 0);
	if (child == 0)
	{
		struct rlimit limit = {uint64_t{1536} << 20, uint64_t{1536} << 20};
		if (::setrlimit(RLIMIT_AS, &limit) != 0)
			::_exit(3);
		const uint64_t left = platform::availableMemory();
		::_exit(left < (uint64_t{1536} << 20) && left > (uint64_t{64} << 20) ? 0 : 1);
	}
	int status = 0;
	ASSERT_EQ(::waitpid(child, &status, 0), child);
	EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
#endif
}

TEST(HostPlatform, FoldersAreMadeWithTheirParents)
{
	TemporaryFolder dir;
	const std::string deep = platform::joinPath(platform::joinPath(dir.path(), "a"), "b");
	std::string problem;
	ASSERT_TRUE(platform::makeDirectories(deep, &problem)) << problem;
	EXPECT_TRUE(platform::isDirectory(deep));
	EXPECT_TRUE(platform::makeDirectories(deep, &problem)) << "a folder already there is no failure";
	const std::string file = platform::joinPath(dir.path(), "file");
	ASSERT_TRUE(platform::writeFileAtomic(file, "x", &problem)) << problem;
	EXPECT_FALSE(platform::makeDirectories(platform::joinPath(file, "sub"), &problem));
	EXPECT_FALSE(problem.empty());
}

#if !defined(_WIN32)

namespace {

// The kinds of file a careless or hostile path names, made in a temporary
// folder: never the machine's own devices.
struct SpecialFiles
{
	TemporaryFolder dir;
	std::string at(const std::string& name) const { return platform::joinPath(dir.path(), name); }
	std::string device(const std::string& name, unsigned minor) const
	{
		// Character devices with the numbers of the null (1, 3) or the full (1, 7) device.
		EXPECT_EQ(::mknod(at(name).c_str(), S_IFCHR | 0666, makedev(1, minor)), 0);
		return at(name);
	}
	std::string fifo(const std::string& name) const
	{
		EXPECT_EQ(::mkfifo(at(name).c_str(), 0666), 0);
		return at(name);
	}
	std::string file(const std::string& name, const std::string& text, mode_t mode = 0644) const
	{
		std::string problem;
		EXPECT_TRUE(platform::writeFileAtomic(at(name), text, &problem)) << problem;
		EXPECT_EQ(::chmod(at(name).c_str(), mode), 0);
		return at(name);
	}
};

bool isKind(const std::string& path, mode_t kind)
{
	struct stat st;
	return ::lstat(path.c_str(), &st) == 0 && (st.st_mode & S_IFMT) == kind;
}

}  // namespace

// Scenes are read at offsets: only a plain file can be, and opening a FIFO
// must not wait for a writer that never comes.
TEST(HostPlatform, ReadingInPiecesOpensPlainFilesOnly)
{
	SpecialFiles f;
	fs::create_directory(f.at("folder"));
	const std::string pipe = f.fifo("fifo");
	fs::create_symlink(pipe, f.at("link"));
	const struct
	{
		std::string path, why;
	} cases[] = {
	    {pipe, "not a plain file"},
	    {f.device("null", 3), "not a plain file"},
	    {f.at("link"), "not a plain file"},
	    {f.at("folder"), "is a folder, not a file"},
	    {f.at("missing"), "no such file"},
	};
	for (const auto& c : cases)
	{
		platform::InFile in;
		std::string problem;
		EXPECT_FALSE(in.open(c.path, &problem)) << c.path;
		EXPECT_EQ(problem, c.why) << c.path;
	}
	platform::InFile in;
	std::string problem;
	ASSERT_TRUE(in.open(f.file("plain", "12345"), &problem)) << problem;
	EXPECT_EQ(in.size(), 5u);
}

TEST(HostPlatform, InspectingTellsKindsAndIdentityThroughLinks)
{
	SpecialFiles f;
	const std::string plain = f.file("plain", "12345");
	ASSERT_EQ(::symlink("plain", f.at("link").c_str()), 0);
	ASSERT_EQ(::link(plain.c_str(), f.at("hard").c_str()), 0);
	const std::string other = f.file("other", "12345");
	const struct
	{
		std::string path;
		platform::FileKind kind;
	} cases[] = {
		{plain, platform::FileKind::regular},
		{f.at("link"), platform::FileKind::regular},
		{f.dir.path(), platform::FileKind::folder},
		{f.device("null", 3), platform::FileKind::device},
		{f.fifo("fifo"), platform::FileKind::pipe},
		{f.at("missing"), platform::FileKind::missing},
	};
	for (const auto& c : cases)
		EXPECT_EQ(platform::inspect(c.path).kind, c.kind) << c.path;
	EXPECT_EQ(platform::inspect(plain).size, 5u);
	EXPECT_TRUE(platform::inspect(f.at("missing")).problem.empty()) << "missing is no failure to look";
	EXPECT_TRUE(platform::sameFile(platform::inspect(plain), platform::inspect(f.at("link"))));
	EXPECT_TRUE(platform::sameFile(platform::inspect(plain), platform::inspect(f.at("hard"))));
	EXPECT_TRUE(platform::sameFile(platform::inspect(plain), platform::inspect(f.dir.path() + "/./plain")));
	EXPECT_FALSE(platform::sameFile(platform::inspect(plain), platform::inspect(other)));
	EXPECT_FALSE(platform::sameFile(platform::inspect(f.at("missing")), platform::inspect(f.at("missing2"))));
}

TEST(HostPlatform, ReadOnlyIsTheModeBitsEvenForAnAdministrator)
{
	SpecialFiles f;
	const std::string locked = f.file("locked", "keep", 0444);
	EXPECT_TRUE(platform::inspect(locked).readOnly);
	EXPECT_FALSE(platform::inspect(f.file("open", "x", 0640)).readOnly);
	std::string problem;
	EXPECT_FALSE(platform::writeFileAtomic(locked, "new", &problem));
	EXPECT_EQ(problem, "the file is read-only");
	EXPECT_EQ(read(locked), "keep");
	struct stat st;
	ASSERT_EQ(::stat(locked.c_str(), &st), 0);
	EXPECT_EQ(st.st_mode & 07777, 0444u);

	// A writable file keeps its permissions when replaced.
	ASSERT_TRUE(platform::writeFileAtomic(f.at("open"), "y", &problem)) << problem;
	ASSERT_EQ(::stat(f.at("open").c_str(), &st), 0);
	EXPECT_EQ(st.st_mode & 07777, 0640u);
	EXPECT_EQ(entries(f.dir.path()), 2u) << "no temporary file stays behind";
}

TEST(HostPlatform, DevicesAreWrittenInPlaceNeverReplaced)
{
	SpecialFiles f;
	const std::string null = f.device("null", 3), full = f.device("full", 7);
	std::string problem;
	EXPECT_TRUE(platform::writeFileAtomic(null, "into the void", &problem)) << problem;
	EXPECT_TRUE(isKind(null, S_IFCHR));
	// Written in pieces at any offset, as a scene is.
	platform::OutFile out;
	ASSERT_TRUE(out.open(null, &problem)) << problem;
	EXPECT_TRUE(out.writeAt(0, "abcd", 4, &problem)) << problem;
	EXPECT_TRUE(out.writeAt(1, "x", 1, &problem)) << problem;
	EXPECT_TRUE(out.commit(&problem)) << problem;
	EXPECT_TRUE(isKind(null, S_IFCHR));

	EXPECT_FALSE(platform::writeFileAtomic(full, "no room", &problem));
	EXPECT_EQ(problem, std::strerror(ENOSPC));
	EXPECT_TRUE(isKind(full, S_IFCHR));
	EXPECT_EQ(entries(f.dir.path()), 2u) << "no temporary file beside them";
}

TEST(HostPlatform, APipeGetsTheBytesInOrderAndStaysAPipe)
{
	SpecialFiles f;
	const std::string fifo = f.fifo("fifo");
	std::string problem;
	{
		// Nobody reads yet: refused at once, never a wait for a reader.
		platform::OutFile unread;
		EXPECT_FALSE(unread.open(fifo, &problem));
		EXPECT_EQ(problem, "no program reads from the pipe");
	}
	// The reader is there before the writer opens (a reading end opens at once without waiting).
	const int fd = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
	ASSERT_GE(fd, 0);
	::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
	platform::OutFile out;
	EXPECT_TRUE(out.open(fifo, &problem)) << problem;
	// Read once a writer is there: before, a pipe reads as ended.
	std::string got;
	std::thread reader([&] {
		char buf[256];
		ssize_t n;
		while ((n = ::read(fd, buf, sizeof buf)) > 0)
			got.append(buf, static_cast<size_t>(n));
		::close(fd);
	});
	EXPECT_TRUE(out.writeAt(0, "first ", 6, &problem)) << problem;
	EXPECT_TRUE(out.writeAt(6, "second", 6, &problem)) << problem;
	EXPECT_FALSE(out.writeAt(0, "F", 1, &problem)) << "a pipe cannot take back what it passed on";
	EXPECT_NE(problem.find("pipe"), std::string::npos) << problem;
	EXPECT_TRUE(out.commit(&problem)) << problem;
	reader.join();
	EXPECT_EQ(got, "first second");
	EXPECT_TRUE(isKind(fifo, S_IFIFO));
}

TEST(HostPlatform, ALinkIsWrittenThroughAndStaysALink)
{
	SpecialFiles f;
	std::string problem;
	ASSERT_TRUE(platform::makeDirectories(f.at("real"), &problem)) << problem;
	f.file("real/target", "old", 0600);
	ASSERT_EQ(::symlink("real/target", f.at("link").c_str()), 0);
	ASSERT_EQ(::symlink("link", f.at("chain").c_str()), 0);
	ASSERT_EQ(::symlink("real/new", f.at("dangling").c_str()), 0);
	const struct
	{
		const char* link;
		const char* target;
	} cases[] = {{"link", "real/target"}, {"chain", "real/target"}, {"dangling", "real/new"}};
	for (const auto& c : cases)
	{
		ASSERT_TRUE(platform::writeFileAtomic(f.at(c.link), c.link, &problem)) << c.link << ": " << problem;
		EXPECT_TRUE(isKind(f.at(c.link), S_IFLNK)) << c.link;
		EXPECT_EQ(read(f.at(c.target)), c.link);
	}
	struct stat st;
	ASSERT_EQ(::stat(f.at("real/target").c_str(), &st), 0);
	EXPECT_EQ(st.st_mode & 07777, 0600u) << "the target hands on its permissions";
	EXPECT_EQ(entries(f.at("real")), 2u) << "the file replaced in its own folder, nothing left beside it";
	EXPECT_EQ(entries(f.dir.path()), 4u);

	ASSERT_EQ(::symlink("loop", f.at("loop").c_str()), 0);
	EXPECT_FALSE(platform::writeFileAtomic(f.at("loop"), "x", &problem));
	EXPECT_EQ(problem, std::strerror(ELOOP));
}

#endif
