// Bitmaps of the host: 8-bit RGBA pixels, read from TIFF files with libtiff.
#ifndef VTNHOST_BITMAP_H
#define VTNHOST_BITMAP_H

#include <cstdint>
#include <string>
#include <vector>

namespace vtnhost {

class Bitmap
{
public:
	int width() const { return width_; }
	int height() const { return height_; }
	// RGBA of pixel (x, y), origin at the top left.
	const uint8_t* pixel(int x, int y) const { return &rgba_[(static_cast<size_t>(y) * width_ + x) * 4]; }

	void resize(int w, int h);
	uint8_t* pixel(int x, int y) { return &rgba_[(static_cast<size_t>(y) * width_ + x) * 4]; }
	// The region (x, y, w, h), clipped to the bitmap.
	Bitmap crop(int x, int y, int w, int h) const;

	// False with the reason in *error when the file is missing or not a readable TIFF.
	bool loadTiff(const std::string& path, std::string* error);

private:
	int width_ = 0;
	int height_ = 0;
	std::vector<uint8_t> rgba_;
};

}  // namespace vtnhost

#endif
