#include "vtnhost/platform.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <random>

#if defined(_WIN32)
#ifndef _WIN32_WINNT
#define _WIN32_WINNT 0x0601
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <shellapi.h>
#include <io.h>
#else
#include <dlfcn.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
extern char** environ;
#endif

namespace vtnhost {
namespace platform {
namespace {

std::atomic<void (*)()> interrupt_handler{nullptr};

size_t lastSeparator(const std::string& path)
{
	for (size_t i = path.size(); i-- > 0;)
		if (isSeparator(path[i]))
			return i;
	return std::string::npos;
}

// The part of path that names a root: "/" on POSIX; "C:", "C:\" or a leading
// separator on Windows.
size_t rootLength(const std::string& path)
{
#if defined(_WIN32)
	if (path.size() >= 2 && path[1] == ':')
		return path.size() > 2 && isSeparator(path[2]) ? 3 : 2;
#endif
	return !path.empty() && isSeparator(path[0]) ? 1 : 0;
}

std::string tooLarge(uint64_t limit) { return "larger than " + std::to_string(limit) + " bytes"; }

// A name for a temporary file beside path that no other writer picks: this
// process, a counter, and a random part against a process of the same id on
// another machine sharing the folder.
std::string temporaryName(const std::string& path, unsigned long pid)
{
	static std::atomic<unsigned> counter{0};
	std::random_device rd;
	return path + ".tmp" + std::to_string(pid) + "_" + std::to_string(counter++) + "_" + std::to_string(rd() % 1000000u);
}

}  // namespace

std::filesystem::path fsPath(const std::string& path) { return std::filesystem::u8path(path); }

std::string joinPath(const std::string& dir, const std::string& part)
{
	if (dir.empty())
		return part;
	if (part.empty())
		return dir;
	if (isSeparator(dir.back()))
		return dir + part;
	char sep = '/';
#if defined(_WIN32)
	const size_t last = dir.find_last_of("/\\");
	sep = last == std::string::npos ? '\\' : dir[last];
	if (dir.size() == 2 && dir[1] == ':')
		return dir + part;  // "C:" + "x" is the current folder of drive C
#endif
	return dir + sep + part;
}

std::string directoryOf(const std::string& path)
{
	const size_t root = rootLength(path), last = lastSeparator(path);
	if (last == std::string::npos || last < root)
		return path.substr(0, root);
	return path.substr(0, std::max(last, root));
}

std::string fileNameOf(const std::string& path)
{
	const size_t last = lastSeparator(path);
	return path.substr(last == std::string::npos ? rootLength(path) : last + 1);
}

bool sameFile(const FileFacts& a, const FileFacts& b)
{
	return a.kind != FileKind::missing && b.kind != FileKind::missing && a.device == b.device && a.inode == b.inode;
}

const char* kindName(FileKind kind)
{
	switch (kind)
	{
	case FileKind::missing:
		return "missing";
	case FileKind::regular:
		return "a file";
	case FileKind::folder:
		return "a folder";
	case FileKind::device:
		return "a device";
	case FileKind::pipe:
		return "a pipe (FIFO)";
	case FileKind::other:
		break;
	}
	return "a special file";
}

bool makeDirectories(const std::string& dir, std::string* problem)
{
	std::error_code ec;
	std::filesystem::create_directories(fsPath(dir), ec);
	if (ec)
		*problem = ec.message();
	return !ec;
}

#if defined(_WIN32)

namespace {

std::wstring widen(const std::string& s)
{
	if (s.empty())
		return std::wstring();
	const int n = MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
	std::wstring w(static_cast<size_t>(n), L'\0');
	MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), w.data(), n);
	return w;
}

std::string narrow(const wchar_t* w, size_t len)
{
	if (len == 0)
		return std::string();
	const int n = WideCharToMultiByte(CP_UTF8, 0, w, static_cast<int>(len), nullptr, 0, nullptr, nullptr);
	std::string s(static_cast<size_t>(n), '\0');
	WideCharToMultiByte(CP_UTF8, 0, w, static_cast<int>(len), s.data(), n, nullptr, nullptr);
	return s;
}

// The system's text for an error code, without the closing period and line break.
std::string systemMessage(DWORD code)
{
	wchar_t* text = nullptr;
	const DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
	                               code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
	std::string s = n ? narrow(text, n) : std::string();
	LocalFree(text);
	while (!s.empty() && (s.back() == '\n' || s.back() == '\r' || s.back() == ' ' || s.back() == '.'))
		s.pop_back();
	return s.empty() ? "error " + std::to_string(code) : s;
}

bool isMissing(DWORD code) { return code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND || code == ERROR_INVALID_NAME; }

struct Handle
{
	HANDLE h;
	~Handle()
	{
		if (h != INVALID_HANDLE_VALUE)
			CloseHandle(h);
	}
};

BOOL WINAPI onConsoleEvent(DWORD event)
{
	if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT)
		return FALSE;
	if (void (*handler)() = interrupt_handler.load())
		handler();
	return TRUE;
}

// One argument as the C runtime splits a command line: quotes around it when
// needed, backslashes doubled only before a quote.
void appendQuoted(std::wstring* line, const std::wstring& arg)
{
	if (!arg.empty() && arg.find_first_of(L" \t\n\v\"") == std::wstring::npos)
	{
		*line += arg;
		return;
	}
	*line += L'"';
	size_t backslashes = 0;
	for (wchar_t c : arg)
	{
		if (c == L'\\')
		{
			++backslashes;
			continue;
		}
		line->append(c == L'"' ? 2 * backslashes + 1 : backslashes, L'\\');
		backslashes = 0;
		*line += c;
	}
	line->append(2 * backslashes, L'\\');
	*line += L'"';
}

}  // namespace

void* openModule(const std::string& path, std::string* why)
{
	// LoadLibrary looks a bare name up along the DLL search path; the full path
	// makes it the file meant, and lets its own folder serve its dependencies.
	const std::wstring wide = widen(path);
	std::wstring full(MAX_PATH, L'\0');
	DWORD n = GetFullPathNameW(wide.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
	if (n > full.size())
	{
		full.resize(n);
		n = GetFullPathNameW(wide.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
	}
	full.resize(n);
	// No message boxes for a damaged or unloadable file: the caller reports it.
	DWORD old_mode = 0;
	SetThreadErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX, &old_mode);
	HMODULE module = LoadLibraryExW(full.empty() ? wide.c_str() : full.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
	const DWORD code = GetLastError();
	SetThreadErrorMode(old_mode, nullptr);
	if (!module && why)
		*why = systemMessage(code);
	return reinterpret_cast<void*>(module);
}

Symbol findSymbol(void* module, const char* name)
{
	return reinterpret_cast<Symbol>(GetProcAddress(static_cast<HMODULE>(module), name));
}

void closeModule(void* module) { FreeLibrary(static_cast<HMODULE>(module)); }

bool isSeparator(char c) { return c == '/' || c == '\\'; }

bool exists(const std::string& path) { return GetFileAttributesW(widen(path).c_str()) != INVALID_FILE_ATTRIBUTES; }

bool isDirectory(const std::string& path)
{
	const DWORD attributes = GetFileAttributesW(widen(path).c_str());
	return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool readFile(const std::string& path, std::string* content, std::string* problem, uint64_t limit)
{
	const std::wstring wide = widen(path);
	const DWORD attributes = GetFileAttributesW(wide.c_str());
	if (attributes == INVALID_FILE_ATTRIBUTES)
	{
		const DWORD code = GetLastError();
		*problem = isMissing(code) ? "no such file" : "cannot read: " + systemMessage(code);
		return false;
	}
	if (attributes & FILE_ATTRIBUTE_DIRECTORY)
	{
		*problem = "is a folder, not a file";
		return false;
	}
	Handle file{CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
	                        FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr)};
	if (file.h == INVALID_HANDLE_VALUE)
	{
		const DWORD code = GetLastError();
		*problem = isMissing(code) ? "no such file" : "cannot read: " + systemMessage(code);
		return false;
	}
	content->clear();
	char buf[1 << 16];
	for (;;)
	{
		DWORD got = 0;
		if (!ReadFile(file.h, buf, sizeof buf, &got, nullptr))
		{
			const DWORD code = GetLastError();
			if (code == ERROR_BROKEN_PIPE)
				break;  // the writing end of a pipe closed: its end of file
			*problem = "cannot read: " + systemMessage(code);
			return false;
		}
		if (got == 0)
			break;
		if (content->size() + got > limit)
		{
			*problem = tooLarge(limit);
			return false;
		}
		content->append(buf, got);
	}
	return true;
}



FileFacts inspect(const std::string& path)
{
	FileFacts f;
	const std::wstring wide = widen(path);
	const DWORD attributes = GetFileAttributesW(wide.c_str());
	if (attributes == INVALID_FILE_ATTRIBUTES)
	{
		const DWORD code = GetLastError();
		if (!isMissing(code))
			f.problem = systemMessage(code);
		return f;
	}
	f.readOnly = (attributes & FILE_ATTRIBUTE_READONLY) != 0 && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
	// Opened for no access at all: enough to ask what it is, also while another holds it.
	Handle file{CreateFileW(wide.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
	                        FILE_FLAG_BACKUP_SEMANTICS, nullptr)};
	if (file.h == INVALID_HANDLE_VALUE)
	{
		f.kind = attributes & FILE_ATTRIBUTE_DIRECTORY ? FileKind::folder : FileKind::regular;
		return f;
	}
	const DWORD type = GetFileType(file.h);
	BY_HANDLE_FILE_INFORMATION info;
	if (type == FILE_TYPE_DISK && GetFileInformationByHandle(file.h, &info))
	{
		f.kind = info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY ? FileKind::folder : FileKind::regular;
		f.device = info.dwVolumeSerialNumber;
		f.inode = (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
		if (f.kind == FileKind::regular)
			f.size = (static_cast<uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
	}
	else
		f.kind = type == FILE_TYPE_CHAR ? FileKind::device : type == FILE_TYPE_PIPE ? FileKind::pipe : FileKind::other;
	return f;
}

std::vector<std::string> arguments(int argc, char** argv)
{
	std::vector<std::string> args;
	int n = 0;
	wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &n);
	if (wide && n == argc)
		for (int i = 0; i < n; ++i)
			args.push_back(narrow(wide[i], wcslen(wide[i])));
	else
		args.assign(argv, argv + argc);
	LocalFree(wide);
	return args;
}

int runProcess(const std::vector<std::string>& argv)
{
	if (argv.empty())
		return -1;
	std::wstring line;
	for (const std::string& arg : argv)
	{
		if (!line.empty())
			line += L' ';
		appendQuoted(&line, widen(arg));
	}
	STARTUPINFOW startup{};
	startup.cb = sizeof startup;
	PROCESS_INFORMATION process{};
	if (!CreateProcessW(widen(argv[0]).c_str(), line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process))
		return -1;
	CloseHandle(process.hThread);
	WaitForSingleObject(process.hProcess, INFINITE);
	DWORD code = 0;
	const bool got = GetExitCodeProcess(process.hProcess, &code);
	CloseHandle(process.hProcess);
	// An exception that ended the process leaves its NTSTATUS (0xC0000005 and
	// the like) as the exit code: not a normal exit.
	return got && code < 0xC0000000u ? static_cast<int>(code) : -1;
}

bool isTerminal(std::FILE* stream)
{
	// _isatty also answers yes for NUL; a console answers to GetConsoleMode.
	DWORD mode = 0;
	return GetConsoleMode(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream))), &mode) != 0;
}

void prepareConsole() { SetConsoleOutputCP(CP_UTF8); }

void onInterrupt(void (*handler)())
{
	interrupt_handler = handler;
	SetConsoleCtrlHandler(onConsoleEvent, TRUE);
}

uint64_t availableMemory()
{
	MEMORYSTATUSEX status = {};
	status.dwLength = sizeof status;
	if (!GlobalMemoryStatusEx(&status))
		return UINT64_MAX;
	return std::min<uint64_t>(status.ullAvailPhys, status.ullAvailVirtual);
}

void adviseLargeBlock(void*, size_t) {}  // large pages need a privilege users seldom have

// ---- files in pieces ----

struct OutFile::Impl
{
	HANDLE h = INVALID_HANDLE_VALUE;
	std::wstring temp, target;
};

OutFile::OutFile() : impl_(new Impl) {}
OutFile::~OutFile()
{
	if (impl_->h != INVALID_HANDLE_VALUE)
	{
		CloseHandle(impl_->h);
		DeleteFileW(impl_->temp.c_str());
	}
	delete impl_;
}

bool OutFile::open(const std::string& path, std::string* problem)
{
	if (path.empty())
		return *problem = systemMessage(ERROR_PATH_NOT_FOUND), false;
	if (isSeparator(path.back()))
		return *problem = systemMessage(ERROR_DIRECTORY), false;
	impl_->target = widen(path);
	if (inspect(path).readOnly)
		return *problem = "the file is read-only", false;
	for (int attempt = 0; attempt < 100 && impl_->h == INVALID_HANDLE_VALUE; ++attempt)
	{
		impl_->temp = widen(temporaryName(path, GetCurrentProcessId()));
		impl_->h = CreateFileW(impl_->temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
		if (impl_->h == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS)
			return *problem = systemMessage(GetLastError()), false;
	}
	if (impl_->h == INVALID_HANDLE_VALUE)
		return *problem = systemMessage(ERROR_FILE_EXISTS), false;
	return true;
}

bool OutFile::writeAt(uint64_t offset, const void* data, size_t n, std::string* problem)
{
	const auto* b = static_cast<const char*>(data);
	while (n > 0)
	{
		OVERLAPPED at{};
		at.Offset = static_cast<DWORD>(offset);
		at.OffsetHigh = static_cast<DWORD>(offset >> 32);
		DWORD wrote = 0;
		if (!WriteFile(impl_->h, b, static_cast<DWORD>(std::min<size_t>(n, 1u << 30)), &wrote, &at))
			return *problem = systemMessage(GetLastError()), false;
		b += wrote;
		n -= wrote;
		offset += wrote;
	}
	return true;
}

bool OutFile::commit(std::string* problem)
{
	if (!FlushFileBuffers(impl_->h))
		return *problem = systemMessage(GetLastError()), false;
	CloseHandle(impl_->h);
	impl_->h = INVALID_HANDLE_VALUE;
	// std::rename does not replace an existing file on Windows; this does, in one step.
	// While another writer is replacing the same file, or a reader holds it open
	// without delete sharing, the system refuses for a moment: try again for up
	// to about a second before giving up.
	for (int attempt = 0;; ++attempt)
	{
		if (MoveFileExW(impl_->temp.c_str(), impl_->target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
			return true;
		const DWORD code = GetLastError();
		const DWORD attributes = GetFileAttributesW(impl_->target.c_str());
		const bool folder = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
		if ((code != ERROR_ACCESS_DENIED && code != ERROR_SHARING_VIOLATION) || folder || attempt == 100)
		{
			*problem = systemMessage(code);
			DeleteFileW(impl_->temp.c_str());
			return false;
		}
		Sleep(10);
	}
}

struct InFile::Impl
{
	HANDLE h = INVALID_HANDLE_VALUE;
	uint64_t size = 0;
};

InFile::InFile() : impl_(new Impl) {}
InFile::~InFile()
{
	if (impl_->h != INVALID_HANDLE_VALUE)
		CloseHandle(impl_->h);
	delete impl_;
}

bool InFile::open(const std::string& path, std::string* problem)
{
	const std::wstring wide = widen(path);
	const DWORD attributes = GetFileAttributesW(wide.c_str());
	if (attributes == INVALID_FILE_ATTRIBUTES)
	{
		const DWORD code = GetLastError();
		return *problem = isMissing(code) ? "no such file" : "cannot read: " + systemMessage(code), false;
	}
	if (attributes & FILE_ATTRIBUTE_DIRECTORY)
		return *problem = "is a folder, not a file", false;
	impl_->h = CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
	                       FILE_ATTRIBUTE_NORMAL, nullptr);
	if (impl_->h == INVALID_HANDLE_VALUE)
	{
		const DWORD code = GetLastError();
		return *problem = isMissing(code) ? "no such file" : "cannot read: " + systemMessage(code), false;
	}
	if (GetFileType(impl_->h) != FILE_TYPE_DISK)
		return *problem = "not a plain file", false;
	LARGE_INTEGER size;
	if (!GetFileSizeEx(impl_->h, &size))
		return *problem = "cannot read: " + systemMessage(GetLastError()), false;
	impl_->size = static_cast<uint64_t>(size.QuadPart);
	return true;
}

uint64_t InFile::size() const { return impl_->size; }

bool InFile::readAt(uint64_t offset, void* out, size_t n, std::string* problem)
{
	auto* b = static_cast<char*>(out);
	while (n > 0)
	{
		OVERLAPPED at{};
		at.Offset = static_cast<DWORD>(offset);
		at.OffsetHigh = static_cast<DWORD>(offset >> 32);
		DWORD got = 0;
		if (!ReadFile(impl_->h, b, static_cast<DWORD>(std::min<size_t>(n, 1u << 30)), &got, &at))
		{
			const DWORD code = GetLastError();
			return *problem = code == ERROR_HANDLE_EOF ? "cut short" : "cannot read: " + systemMessage(code), false;
		}
		if (got == 0)
			return *problem = "cut short", false;
		b += got;
		n -= got;
		offset += got;
	}
	return true;
}

#else  // POSIX

namespace {

extern "C" void onSignal(int)
{
	if (void (*handler)() = interrupt_handler.load())
		handler();
}

std::string reason(int err) { return std::strerror(err); }

// dlerror's text about the module at name, without the name it repeats; a
// library the module needs and the system lacks said as such, not as "No such
// file or directory", which reads as if the module itself were missing.
std::string moduleProblem(const std::string& name, const std::string& text)
{
	const std::string missing = ": cannot open shared object file: No such file or directory";
	const size_t colon = text.find(": ");
	if (colon == std::string::npos)
		return text;
	const std::string who = text.substr(0, colon);
	if (who == name)
		return "not a loadable module: " + text.substr(colon + 2);
	if (text.size() > missing.size() && text.compare(text.size() - missing.size(), missing.size(), missing) == 0)
		return "it needs " + text.substr(0, text.size() - missing.size()) + ", which the system cannot find";
	return text;
}

}  // namespace

void* openModule(const std::string& path, std::string* why)
{
	// dlopen looks a name without a slash up along the library path.
	const std::string name = path.find('/') == std::string::npos ? "./" + path : path;
	void* handle = ::dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL);
	if (!handle && why)
	{
		const char* text = ::dlerror();
		*why = text ? moduleProblem(name, text) : "unknown reason";
	}
	return handle;
}

Symbol findSymbol(void* module, const char* name) { return reinterpret_cast<Symbol>(::dlsym(module, name)); }

void closeModule(void* module) { ::dlclose(module); }

bool isSeparator(char c) { return c == '/'; }

bool exists(const std::string& path)
{
	struct stat st;
	return ::stat(path.c_str(), &st) == 0;
}

bool isDirectory(const std::string& path)
{
	struct stat st;
	return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool readFile(const std::string& path, std::string* content, std::string* problem, uint64_t limit)
{
	const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
	if (fd < 0)
	{
		const int err = errno;
		*problem = err == ENOENT ? "no such file" : "cannot read: " + reason(err);
		return false;
	}
	struct stat st;
	if (::fstat(fd, &st) != 0)
	{
		const int err = errno;
		*problem = "cannot read: " + reason(err);
		::close(fd);
		return false;
	}
	if (S_ISDIR(st.st_mode))
	{
		*problem = "is a folder, not a file";
		::close(fd);
		return false;
	}
	content->clear();
	// Bytes read, 0 at the end; -1 on failure, with the problem named, the
	// content dropped and the file closed.
	auto readSome = [&](char* to, size_t n) -> ssize_t {
		for (;;)
		{
			const ssize_t r = ::read(fd, to, n);
			if (r >= 0)
				return r;
			if (errno == EINTR)
				continue;
			*problem = "cannot read: " + reason(errno);
			content->clear();
			::close(fd);
			return -1;
		}
	};
	// A regular file is read straight into a string of its size: no second
	// copy through a buffer, no regrowth (a large mesh reads twice as fast).
	// A file that grows meanwhile, a pipe or a device goes on through the buffer.
	if (S_ISREG(st.st_mode) && st.st_size > 0 && static_cast<uint64_t>(st.st_size) <= limit)
	{
		content->resize(static_cast<size_t>(st.st_size));
		size_t got = 0;
		while (got < content->size())
		{
			const ssize_t n = readSome(&(*content)[got], content->size() - got);
			if (n < 0)
				return false;
			if (n == 0)
				break;
			got += static_cast<size_t>(n);
		}
		content->resize(got);
	}
	char buf[1 << 16];
	for (;;)
	{
		const ssize_t n = readSome(buf, sizeof buf);
		if (n < 0)
			return false;
		if (n == 0)
			break;
		if (content->size() + static_cast<uint64_t>(n) > limit)
		{
			*problem = tooLarge(limit);
			::close(fd);
			return false;
		}
		content->append(buf, static_cast<size_t>(n));
	}
	::close(fd);
	return true;
}



namespace {

FileKind kindOf(mode_t mode)
{
	if (S_ISREG(mode))
		return FileKind::regular;
	if (S_ISDIR(mode))
		return FileKind::folder;
	if (S_ISCHR(mode) || S_ISBLK(mode))
		return FileKind::device;
	if (S_ISFIFO(mode))
		return FileKind::pipe;
	return FileKind::other;
}

// The write bit that applies to this user, whoever it is: root may write
// anything, yet a file its owner made read-only is not one to replace.
bool readOnlyFor(const struct stat& st)
{
	if (st.st_uid == ::geteuid())
		return (st.st_mode & S_IWUSR) == 0;
	if (st.st_gid == ::getegid())
		return (st.st_mode & S_IWGRP) == 0;
	return (st.st_mode & S_IWOTH) == 0;
}

// The path a chain of symbolic links ends at (itself when it is none); a
// relative link counts from the link's own folder. False for a loop.
bool resolveLinks(const std::string& path, std::string* target)
{
	std::string at = path;
	for (int hop = 0; hop < 40; ++hop)
	{
		struct stat st;
		if (::lstat(at.c_str(), &st) != 0 || !S_ISLNK(st.st_mode))
		{
			*target = at;
			return true;
		}
		std::string link(static_cast<size_t>(st.st_size > 0 ? st.st_size : 255) + 1, '\0');
		const ssize_t n = ::readlink(at.c_str(), link.data(), link.size());
		if (n < 0)
			return false;
		link.resize(static_cast<size_t>(n));
		at = !link.empty() && link[0] == '/' ? link : joinPath(directoryOf(at), link);
	}
	errno = ELOOP;
	return false;
}

}  // namespace

FileFacts inspect(const std::string& path)
{
	FileFacts f;
	struct stat st;
	if (::stat(path.c_str(), &st) != 0)
	{
		if (errno != ENOENT)
			f.problem = reason(errno);
		return f;
	}
	f.kind = kindOf(st.st_mode);
	f.device = static_cast<uint64_t>(st.st_dev);
	f.inode = static_cast<uint64_t>(st.st_ino);
	f.size = f.kind == FileKind::regular ? static_cast<uint64_t>(st.st_size) : 0;
	f.readOnly = readOnlyFor(st);
	return f;
}

std::vector<std::string> arguments(int argc, char** argv) { return std::vector<std::string>(argv, argv + argc); }

int runProcess(const std::vector<std::string>& argv)
{
	if (argv.empty())
		return -1;
	std::vector<char*> args;
	for (const std::string& a : argv)
		args.push_back(const_cast<char*>(a.c_str()));
	args.push_back(nullptr);
	pid_t pid = 0;
	if (::posix_spawn(&pid, args[0], nullptr, nullptr, args.data(), environ) != 0)
		return -1;
	int status = 0;
	while (::waitpid(pid, &status, 0) < 0)
		if (errno != EINTR)
			return -1;
	return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool isTerminal(std::FILE* stream) { return ::isatty(::fileno(stream)) != 0; }

void prepareConsole() {}

void onInterrupt(void (*handler)())
{
	interrupt_handler = handler;
	struct sigaction action = {};
	action.sa_handler = onSignal;
	action.sa_flags = SA_RESTART;
	sigemptyset(&action.sa_mask);
	::sigaction(SIGINT, &action, nullptr);
}

uint64_t availableMemory()
{
	uint64_t available = UINT64_MAX;
	// Read by hand rather than with streams: a few hundred bytes, once.
	auto readSmall = [](const char* path, std::string* text) {
		const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
		if (fd < 0)
			return false;
		char buf[4096];
		ssize_t got;
		while ((got = ::read(fd, buf, sizeof buf)) > 0)
			text->append(buf, static_cast<size_t>(got));
		::close(fd);
		return got == 0;
	};
	std::string meminfo;
	if (readSmall("/proc/meminfo", &meminfo))
	{
		const size_t at = meminfo.find("MemAvailable:");
		if (at != std::string::npos)
			available = std::strtoull(meminfo.c_str() + at + 13, nullptr, 10) * 1024u;
	}
	struct rlimit limit;
	if (::getrlimit(RLIMIT_AS, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY)
	{
		// The limit counts every mapping: code, stacks and the heap so far.
		uint64_t mapped = 0;
		std::string statm;
		if (readSmall("/proc/self/statm", &statm))
			mapped = std::strtoull(statm.c_str(), nullptr, 10) * static_cast<uint64_t>(::sysconf(_SC_PAGESIZE));
		const uint64_t cap = static_cast<uint64_t>(limit.rlim_cur);
		available = std::min(available, cap > mapped ? cap - mapped : 0);
	}
	return available;
}

void adviseLargeBlock(void* block, size_t size)
{
	constexpr uintptr_t kHuge = uintptr_t(2) << 20;
	if (size < 8 * kHuge)
		return;
	// Only the whole huge pages inside the block: the advice is per mapping range.
	const uintptr_t begin = (reinterpret_cast<uintptr_t>(block) + kHuge - 1) & ~(kHuge - 1);
	const uintptr_t end = (reinterpret_cast<uintptr_t>(block) + size) & ~(kHuge - 1);
#if defined(MADV_HUGEPAGE)
	if (end > begin)
		::madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
#else
	(void)begin;
	(void)end;
#endif
}

// ---- files in pieces ----

struct OutFile::Impl
{
	int fd = -1;
	std::string temp, target;
	bool direct = false;    // a device or a pipe, written as it is
	uint64_t position = 0;  // where the next plain write lands, when direct
};

OutFile::OutFile() : impl_(new Impl) {}
OutFile::~OutFile()
{
	if (impl_->fd >= 0)
	{
		::close(impl_->fd);
		if (!impl_->direct)
			::unlink(impl_->temp.c_str());
	}
	delete impl_;
}

bool OutFile::open(const std::string& path, std::string* problem)
{
	if (path.empty())
		return *problem = reason(ENOENT), false;
	if (path.back() == '/')
		return *problem = reason(EISDIR), false;
	// Through a link to the file it names: replacing the link itself would cut
	// it off from that file.
	if (!resolveLinks(path, &impl_->target))
		return *problem = reason(errno), false;
	const std::string& target = impl_->target;
	struct stat st;
	const bool existing = ::stat(target.c_str(), &st) == 0;
	if (existing && S_ISDIR(st.st_mode))
		return *problem = reason(EISDIR), false;
	if (existing && !S_ISREG(st.st_mode))
	{
		// A device or a pipe is a destination, not a file to replace.
		impl_->direct = true;
		// Opening a pipe nobody reads would wait for a reader that may never
		// come, past any Ctrl-C. A reader started beside the tool is given half
		// a second to open its end; without one the pipe is refused.
		const bool pipe = S_ISFIFO(st.st_mode);
		for (int wait = 0; wait <= 50; ++wait)
		{
			impl_->fd = ::open(target.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC | (pipe ? O_NONBLOCK : 0));
			if (impl_->fd >= 0 || errno != ENXIO || !pipe)
				break;
			::usleep(10000);
		}
		if (impl_->fd < 0)
			return *problem = errno == ENXIO && pipe ? "no program reads from the pipe" : reason(errno), false;
		if (pipe)
			::fcntl(impl_->fd, F_SETFL, ::fcntl(impl_->fd, F_GETFL) & ~O_NONBLOCK);
		return true;
	}
	if (existing && readOnlyFor(st))
		return *problem = "the file is read-only", false;
	for (int attempt = 0; attempt < 100 && impl_->fd < 0; ++attempt)
	{
		impl_->temp = temporaryName(target, static_cast<unsigned long>(::getpid()));
		impl_->fd = ::open(impl_->temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
		if (impl_->fd < 0 && errno != EEXIST)
			return *problem = reason(errno), false;
	}
	if (impl_->fd < 0)
		return *problem = reason(EEXIST), false;
	if (existing)
	{
		// A file being replaced hands its permissions on, and its owner where
		// the system lets us (an administrator's write must not take it over).
		if (::fchmod(impl_->fd, st.st_mode & 07777) != 0)
			return *problem = reason(errno), false;
		if (st.st_uid != ::geteuid() || st.st_gid != ::getegid())
			(void)::fchown(impl_->fd, st.st_uid, st.st_gid);
	}
	return true;
}

bool OutFile::writeAt(uint64_t offset, const void* data, size_t n, std::string* problem)
{
	// A pipe takes its bytes in order; a device is written in order where it can be.
	const bool inOrder = impl_->direct && offset == impl_->position;
	if (impl_->direct && !inOrder)
	{
		struct stat st;
		if (::fstat(impl_->fd, &st) == 0 && S_ISFIFO(st.st_mode))
			return *problem = "a pipe cannot go back to rewrite what it has passed on", false;
	}
	const auto* b = static_cast<const char*>(data);
	while (n > 0)
	{
		const size_t piece = std::min<size_t>(n, 1u << 30);
		const ssize_t w = inOrder ? ::write(impl_->fd, b, piece) : ::pwrite(impl_->fd, b, piece, static_cast<off_t>(offset));
		if (w < 0)
		{
			if (errno == EINTR)
				continue;
			return *problem = reason(errno), false;
		}
		b += w;
		n -= static_cast<size_t>(w);
		offset += static_cast<uint64_t>(w);
	}
	if (inOrder)
		impl_->position = offset;
	return true;
}

bool OutFile::commit(std::string* problem)
{
	const int fd = impl_->fd;
	impl_->fd = -1;
	if (impl_->direct)
		return ::close(fd) == 0 ? true : (*problem = reason(errno), false);
	if (::fsync(fd) != 0)
	{
		*problem = reason(errno);
		::close(fd);
		::unlink(impl_->temp.c_str());
		return false;
	}
	if (::close(fd) != 0 || ::rename(impl_->temp.c_str(), impl_->target.c_str()) != 0)
	{
		*problem = reason(errno);
		::unlink(impl_->temp.c_str());
		return false;
	}
	// Best effort: make the rename itself survive a crash.
	const std::string dir = directoryOf(impl_->target);
	const int dfd = ::open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
	if (dfd >= 0)
	{
		::fsync(dfd);
		::close(dfd);
	}
	return true;
}

struct InFile::Impl
{
	int fd = -1;
	uint64_t size = 0;
};

InFile::InFile() : impl_(new Impl) {}
InFile::~InFile()
{
	if (impl_->fd >= 0)
		::close(impl_->fd);
	delete impl_;
}

bool InFile::open(const std::string& path, std::string* problem)
{
	// Without O_NONBLOCK, opening a FIFO waits for a writer that may never come;
	// a plain file reads the same with it.
	impl_->fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
	if (impl_->fd < 0)
	{
		const int err = errno;
		return *problem = err == ENOENT ? "no such file" : "cannot read: " + reason(err), false;
	}
	struct stat st;
	if (::fstat(impl_->fd, &st) != 0)
		return *problem = "cannot read: " + reason(errno), false;
	if (S_ISDIR(st.st_mode))
		return *problem = "is a folder, not a file", false;
	if (!S_ISREG(st.st_mode))
		return *problem = "not a plain file", false;
	impl_->size = static_cast<uint64_t>(st.st_size);
	return true;
}

uint64_t InFile::size() const { return impl_->size; }

bool InFile::readAt(uint64_t offset, void* out, size_t n, std::string* problem)
{
	auto* b = static_cast<char*>(out);
	while (n > 0)
	{
		const ssize_t got = ::pread(impl_->fd, b, std::min<size_t>(n, 1u << 30), static_cast<off_t>(offset));
		if (got < 0)
		{
			if (errno == EINTR)
				continue;
			return *problem = "cannot read: " + reason(errno), false;
		}
		if (got == 0)
			return *problem = "cut short", false;
		b += got;
		n -= static_cast<size_t>(got);
		offset += static_cast<uint64_t>(got);
	}
	return true;
}

#endif

// Whole files go through the same writer as files written in pieces: one place
// for the temporary name, the flush and the replacement.
bool writeFileAtomic(const std::string& path, const std::string& content, std::string* problem)
{
	OutFile out;
	return out.open(path, problem) && out.writeAt(0, content.data(), content.size(), problem) && out.commit(problem);
}

}  // namespace platform
}  // namespace vtnhost
