// What differs between the systems the host and the tool run on: loading
// modules, files and paths, processes and the console. Everything else in host/
// and apps/ is plain C++17 over these. Paths are UTF-8 strings on every system.
#ifndef VTNHOST_PLATFORM_H
#define VTNHOST_PLATFORM_H

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

// Scene files and the plug-in's weight blocks are little-endian and copied
// to and from memory as they stand.
#if defined(__BYTE_ORDER__)
static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "a big-endian build needs byte swaps in the scene files");
#endif

namespace vtnhost {
namespace platform {

// ---- loadable modules ----

using Symbol = void (*)();
// The module at path, loaded with its dependencies resolved now; null with the
// system's reason. A bare file name means the file in the current folder, never
// one found along the system's library search path.
void* openModule(const std::string& path, std::string* why);
// The exported function of that name, or null.
Symbol findSymbol(void* module, const char* name);
void closeModule(void* module);

// ---- files ----

// For std::filesystem and the file streams: wide on Windows, the bytes elsewhere.
std::filesystem::path fsPath(const std::string& path);
bool exists(const std::string& path);
bool isDirectory(const std::string& path);
// The whole file. False with the problem: "no such file", "is a folder, not a
// file", "larger than N bytes" or "cannot read: <reason>".
bool readFile(const std::string& path, std::string* content, std::string* problem, uint64_t limit = UINT64_MAX);

// What a path names, links followed.
enum class FileKind
{
	missing,
	regular,
	folder,
	device,  // a character or block device
	pipe,    // a FIFO
	other,   // a socket or anything else that is not stored data
};

struct FileFacts
{
	FileKind kind = FileKind::missing;
	// The same pair names the same file, whatever the spelling or links that
	// lead to it (Windows: the volume's serial number and the file's index).
	uint64_t device = 0, inode = 0;
	uint64_t size = 0;
	// Its permission bits let this user not write it. Judged by the bits alone:
	// an administrator, who may write anything, is held to them too.
	bool readOnly = false;
	// Why it could not be looked at, when it exists but cannot be (kind missing).
	std::string problem;
};

FileFacts inspect(const std::string& path);
bool sameFile(const FileFacts& a, const FileFacts& b);
// "a folder", "a device", "a pipe (FIFO)", "a special file", ...: what the kind is called in a message.
const char* kindName(FileKind kind);
// The folder and every missing folder above it; false with the system's reason.
bool makeDirectories(const std::string& dir, std::string* problem);

// Writes a new file beside path, forces it to disk and puts it in path's place
// in one step: readers see the old file or the new one, never a part. A file
// it replaces hands on its permissions. False with the system's reason, and
// nothing is left behind. See OutFile for links, devices and read-only files.
bool writeFileAtomic(const std::string& path, const std::string& content, std::string* problem);

// A file written in pieces, at any offset, beside path, and put in path's place
// by commit() (writeFileAtomic is one piece of it); abandoned (removed) unless
// committed. Every failure says why in *problem.
// A symbolic link is followed: the file it leads to is replaced, in that file's
// folder, and the link stays. A device, a pipe or another special file is
// written to as it is, never replaced (a pipe takes its bytes in order only).
// An existing file whose permission bits forbid writing it is refused
// ("the file is read-only"), also for an administrator.
class OutFile
{
public:
	OutFile();
	~OutFile();
	OutFile(const OutFile&) = delete;
	OutFile& operator=(const OutFile&) = delete;
	bool open(const std::string& path, std::string* problem);
	bool writeAt(uint64_t offset, const void* data, size_t n, std::string* problem);
	bool commit(std::string* problem);

private:
	struct Impl;
	Impl* impl_;
};

// A file read in pieces at any offset. open() refuses a folder ("is a folder,
// not a file") and anything but a plain file ("not a plain file"), whose size
// could change under the reader.
class InFile
{
public:
	InFile();
	~InFile();
	InFile(const InFile&) = delete;
	InFile& operator=(const InFile&) = delete;
	bool open(const std::string& path, std::string* problem);
	uint64_t size() const;
	// Exactly n bytes at offset; false (with the reason) when they are not there.
	bool readAt(uint64_t offset, void* out, size_t n, std::string* problem);

private:
	struct Impl;
	Impl* impl_;
};

// ---- paths ----

bool isSeparator(char c);
// dir and part joined by a separator (the one dir already uses, if any).
std::string joinPath(const std::string& dir, const std::string& part);
// Everything before the last separator; the root stays a root. Empty without a separator.
std::string directoryOf(const std::string& path);
// Everything after the last separator.
std::string fileNameOf(const std::string& path);

// ---- processes and the console ----

// The program's arguments in UTF-8 (on Windows from the wide command line, not
// the code page's lossy copy in argv).
std::vector<std::string> arguments(int argc, char** argv);
// Runs a program with these arguments, without a shell, and waits for it; its
// exit status, or -1 when it could not be started or did not exit normally.
int runProcess(const std::vector<std::string>& argv);
bool isTerminal(std::FILE* stream);
// Console text is UTF-8 (Windows consoles start in an OEM code page).
void prepareConsole();
// handler runs on Ctrl-C (on Windows, on a thread of its own): it must only set a flag.
void onInterrupt(void (*handler)());

// ---- memory ----

// Bytes this process can still allocate, as far as the system tells: the
// memory it could hand out without swapping (Linux: MemAvailable; Windows: the
// free physical memory), or what is left of the process's address space below
// its limit (Linux: RLIMIT_AS less what is mapped; Windows: the free virtual
// address space, small for a 32-bit process), whichever is smaller.
// UINT64_MAX when the system says nothing.
uint64_t availableMemory();
// A hint that a large block will be written whole: where the system can, it
// backs it with huge pages (Linux: transparent huge pages), so that first
// touching a weight table of gigabytes does not fault it in 4 KiB at a time.
// Nothing changes where the system does not take the hint.
void adviseLargeBlock(void* block, size_t size);

}  // namespace platform
}  // namespace vtnhost

#endif
