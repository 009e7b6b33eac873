// Bitmaps and the host's icon library.
#ifndef VTN_BASEBITMAP_H
#define VTN_BASEBITMAP_H

#include "abi/vtn_types.h"
#include "vtn_string.h"

enum { IMAGERESULT_OK = 1 };

class BaseBitmap
{
public:
	BaseBitmap() = delete;
	static BaseBitmap* Alloc();
	static void Free(BaseBitmap*& bmp);
	// Loads an image file; IMAGERESULT_OK on success.
	Int32 Init(const Filename& name, Int32 frame = -1, Int32* ismovie = nullptr);
	Int32 GetBw() const;
	Int32 GetBh() const;
};

// Loads an image from the plug-in's "res" folder and frees it when it goes;
// holds no bitmap when loading fails.
class AutoBitmap
{
public:
	explicit AutoBitmap(const String& name);
	~AutoBitmap();
	AutoBitmap(const AutoBitmap&) = delete;
	AutoBitmap& operator=(const AutoBitmap&) = delete;
	operator BaseBitmap*() const { return bmp_; }

private:
	BaseBitmap* bmp_;
};

// -1 when the icon library is missing or too old.
Int32 RegisterIcon(Int32 id, BaseBitmap* bmp, Int32 x, Int32 y, Int32 w, Int32 h, Int32 flags);
bool GetIcon(Int32 id, IconData* d);
bool UnregisterIcon(Int32 id);

#endif
