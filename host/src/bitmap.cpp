#include "vtnhost/bitmap.h"

#include <tiffio.h>

#include <algorithm>
#include <cstdio>
#include <memory>

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
	std::FILE* probe = std::fopen(path.c_str(), "rb");
	if (!probe)
	{
		if (error)
			*error = "cannot open image " + path;
		return false;
	}
	std::fclose(probe);
	std::unique_ptr<TIFF, TiffCloser> tif(TIFFOpen(path.c_str(), "r"));
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
