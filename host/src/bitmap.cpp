#include "vtnhost/bitmap.h"

#include <tiffio.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>

#include "vtnhost/platform.h"

namespace vtnhost {
namespace {

// libtiff reports through global handlers; collect the last message instead of printing it.
thread_local std::string last_tiff_message;

void collectTiffMessage(const char* module, const char* fmt, va_list ap)
{
	char buf[512];
	std::vsnprintf(buf, sizeof buf, fmt, ap);
	last_tiff_message = std::string(module ? module : "libtiff") + ": " + buf;
}

struct TiffCloser
{
	void operator()(TIFF* t) const { TIFFClose(t); }
};

// Images far beyond what an icon or picture needs are refused rather than allocated.
constexpr uint64_t kMaxPixels = 1ull << 28;
constexpr uint64_t kMaxFileBytes = 1ull << 30;

// The file is read through the host's own file access (UTF-8 names on every
// system) and handed to libtiff from memory.
struct MemoryFile
{
	const std::string& bytes;
	uint64_t pos = 0;
};

MemoryFile* M(thandle_t h) { return static_cast<MemoryFile*>(static_cast<void*>(h)); }

tmsize_t readMemory(thandle_t h, void* buf, tmsize_t size)
{
	MemoryFile* m = M(h);
	if (size <= 0 || m->pos >= m->bytes.size())
		return 0;
	const uint64_t n = std::min<uint64_t>(static_cast<uint64_t>(size), m->bytes.size() - m->pos);
	std::memcpy(buf, m->bytes.data() + m->pos, static_cast<size_t>(n));
	m->pos += n;
	return static_cast<tmsize_t>(n);
}

tmsize_t writeNothing(thandle_t, void*, tmsize_t) { return -1; }

toff_t seekMemory(thandle_t h, toff_t offset, int whence)
{
	MemoryFile* m = M(h);
	// Offsets from the current position or the end may be negative; toff_t wraps them.
	const uint64_t base = whence == SEEK_CUR ? m->pos : whence == SEEK_END ? m->bytes.size() : 0;
	m->pos = base + offset;
	return m->pos;
}

int closeMemory(thandle_t) { return 0; }
toff_t sizeOfMemory(thandle_t h) { return M(h)->bytes.size(); }

int mapMemory(thandle_t h, void** base, toff_t* size)
{
	*base = const_cast<char*>(M(h)->bytes.data());
	*size = M(h)->bytes.size();
	return 1;
}

void unmapMemory(thandle_t, void*, toff_t) {}

}  // namespace

void Bitmap::resize(int w, int h)
{
	width_ = std::max(w, 0);
	height_ = std::max(h, 0);
	rgba_.assign(static_cast<size_t>(width_) * height_ * 4, 0);
}

Bitmap Bitmap::crop(int x, int y, int w, int h) const
{
	Bitmap out;
	const int x0 = std::clamp(x, 0, width_), y0 = std::clamp(y, 0, height_);
	const int x1 = std::clamp(x + std::max(w, 0), x0, width_), y1 = std::clamp(y + std::max(h, 0), y0, height_);
	out.resize(x1 - x0, y1 - y0);
	for (int j = y0; j < y1; ++j)
		std::copy_n(pixel(x0, j), static_cast<size_t>(x1 - x0) * 4, out.pixel(0, j - y0));
	return out;
}

bool Bitmap::loadTiff(const std::string& path, std::string* error)
{
	TIFFSetErrorHandler(collectTiffMessage);
	TIFFSetWarningHandler(nullptr);
	last_tiff_message.clear();
	std::string bytes, problem;
	if (!platform::readFile(path, &bytes, &problem, kMaxFileBytes))
	{
		if (error)
			*error = "cannot open image " + path + " (" + problem + ")";
		return false;
	}
	MemoryFile file{bytes};
	std::unique_ptr<TIFF, TiffCloser> tif(TIFFClientOpen(path.c_str(), "r", static_cast<thandle_t>(static_cast<void*>(&file)), readMemory,
	                                                     writeNothing, seekMemory, closeMemory, sizeOfMemory, mapMemory, unmapMemory));
	if (!tif)
	{
		if (error)
			*error = "not a readable TIFF image: " + path + (last_tiff_message.empty() ? "" : " (" + last_tiff_message + ")");
		return false;
	}
	uint32_t w = 0, h = 0;
	TIFFGetField(tif.get(), TIFFTAG_IMAGEWIDTH, &w);
	TIFFGetField(tif.get(), TIFFTAG_IMAGELENGTH, &h);
	if (w == 0 || h == 0 || static_cast<uint64_t>(w) * h > kMaxPixels)
	{
		if (error)
			*error = "unsupported image size in " + path;
		return false;
	}
	std::vector<uint32_t> raster(static_cast<size_t>(w) * h);
	if (!TIFFReadRGBAImageOriented(tif.get(), w, h, raster.data(), ORIENTATION_TOPLEFT, 0))
	{
		if (error)
			*error = "cannot decode TIFF image " + path + (last_tiff_message.empty() ? "" : " (" + last_tiff_message + ")");
		return false;
	}
	resize(static_cast<int>(w), static_cast<int>(h));
	for (size_t i = 0; i < raster.size(); ++i)
	{
		const uint32_t p = raster[i];
		rgba_[i * 4 + 0] = static_cast<uint8_t>(TIFFGetR(p));
		rgba_[i * 4 + 1] = static_cast<uint8_t>(TIFFGetG(p));
		rgba_[i * 4 + 2] = static_cast<uint8_t>(TIFFGetB(p));
		rgba_[i * 4 + 3] = static_cast<uint8_t>(TIFFGetA(p));
	}
	return true;
}

}  // namespace vtnhost
