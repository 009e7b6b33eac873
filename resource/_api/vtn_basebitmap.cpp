#include "vtn_basebitmap.h"

#include "vtn_pmain.h"

namespace {
VTN_Bitmap* B() { return t_VTNOS->bitmap; }
VTN_IconLib* icon_cache = nullptr;
}  // namespace

BaseBitmap* BaseBitmap::Alloc() { return B()->Alloc(); }

void BaseBitmap::Free(BaseBitmap*& bmp)
{
	B()->Free(bmp);
	bmp = nullptr;
}

Int32 BaseBitmap::Init(const Filename& name, Int32 frame, Int32* ismovie)
{
	return B()->Init(this, name.Handle(), frame, ismovie);
}

Int32 BaseBitmap::GetBw() const { return B()->GetWidth(this); }
Int32 BaseBitmap::GetBh() const { return B()->GetHeight(this); }

AutoBitmap::AutoBitmap(const String& name) : bmp_(BaseBitmap::Alloc())
{
	if (bmp_ && bmp_->Init(GeGetPluginPath() + String("res") + name) != IMAGERESULT_OK)
		BaseBitmap::Free(bmp_);
}

AutoBitmap::~AutoBitmap() { BaseBitmap::Free(bmp_); }

Int32 RegisterIcon(Int32 id, BaseBitmap* bmp, Int32 x, Int32 y, Int32 w, Int32 h, Int32 flags)
{
	VTN_IconLib* lib = CheckLibT(VTN_LIB_ICON, VTN_LIB_END(VTN_IconLib, RegisterIcon), &icon_cache);
	if (!lib || !lib->RegisterIcon)
		return -1;
	return lib->RegisterIcon(id, bmp, x, y, w, h, flags) ? 1 : 0;
}

bool GetIcon(Int32 id, IconData* d)
{
	VTN_IconLib* lib = CheckLibT(VTN_LIB_ICON, VTN_LIB_END(VTN_IconLib, GetIcon), &icon_cache);
	if (!lib || !lib->GetIcon)
		return false;
	return lib->GetIcon(id, d);
}

bool UnregisterIcon(Int32 id)
{
	VTN_IconLib* lib = CheckLibT(VTN_LIB_ICON, VTN_LIB_END(VTN_IconLib, UnregisterIcon), &icon_cache);
	if (!lib || !lib->UnregisterIcon)
		return false;
	return lib->UnregisterIcon(id);
}
