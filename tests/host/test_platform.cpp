// The host's platform layer: files replaced in one step, file problems named,
// paths split and joined by the system's rules, names beyond ASCII, programs
// started with their arguments intact.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#if !defined(_WIN32)
#include <sys/resource.h>
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
