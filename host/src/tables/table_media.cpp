// Media sub-tables and libraries: bitmaps, resources, descriptions, icons.
#include "tables/tables.h"
#include "vtnhost/host.h"

namespace vtnhost {
namespace {

Host& H() { return Host::current(); }
Bitmap* B(const void* p) { return const_cast<Bitmap*>(static_cast<const Bitmap*>(p)); }

// ---- bitmaps ----

BaseBitmap* BmAlloc() { return reinterpret_cast<BaseBitmap*>(new Bitmap()); }
void BmFree(BaseBitmap* bmp) { delete B(bmp); }
Int32 BmInit(BaseBitmap* bmp, const VtnFilename* name, Int32, Int32* ismovie)
{
	if (ismovie)
		*ismovie = 0;
	std::string error;
	if (!name || !B(bmp)->loadTiff(name->path, &error))
	{
		H().error(name ? error : "no image file name given");
		return -1;
	}
	return 1;
}
Int32 BmWidth(const BaseBitmap* bmp) { return B(bmp)->width(); }
Int32 BmHeight(const BaseBitmap* bmp) { return B(bmp)->height(); }
void BmGetPixel(const BaseBitmap* bmp, Int32 x, Int32 y, UChar* r, UChar* g, UChar* b)
{
	const Bitmap* m = B(bmp);
	if (x < 0 || y < 0 || x >= m->width() || y >= m->height())
	{
		*r = *g = *b = 0;
		return;
	}
	const uint8_t* p = m->pixel(x, y);
	*r = p[0], *g = p[1], *b = p[2];
}

VTN_Bitmap bitmap_table = [] {
	VTN_Bitmap t{};
	t.Alloc = BmAlloc;
	t.Free = BmFree;
	t.Init = BmInit;
	t.GetWidth = BmWidth;
	t.GetHeight = BmHeight;
	t.GetPixel = BmGetPixel;
	return t;
}();

// ---- resources ----

VtnResource* RsLoad(const VtnFilename* dir)
{
	std::string error;
	std::unique_ptr<ResourceSet> res = loadResources(dir ? dir->path : std::string(), &error);
	if (!res)
		H().error("cannot load plug-in resources: " + error);
	else
		H().resourceLoaded(1);
	return res.release();
}
void RsFree(VtnResource* res)
{
	if (res)
		H().resourceLoaded(-1);
	delete res;
}
const VtnString* const* RsLoadString(VtnResource* res, Int32 id)
{
	auto it = res->strings.find(id);
	if (it == res->strings.end())
		return H().table()->string->GetEmptyBox();
	return &it->second->box;
}
VtnResource* RsGetGlobal() { return nullptr; }

VTN_Resource resource_table = [] {
	VTN_Resource t{};
	t.Load = RsLoad;
	t.Free = RsFree;
	t.LoadString = RsLoadString;
	t.GetGlobal = RsGetGlobal;
	return t;
}();

// ---- description library (1000467) ----

bool DlRegisterDescription(Int32 id, const VtnString* name, VtnResource* res)
{
	return H().registerDescription(id, name ? name->text : std::string(), res);
}
Int32 DlGetParameterCount(Int32 id)
{
	const Description* d = H().description(id);
	return d ? static_cast<Int32>(d->params.size()) : 0;
}
bool DlGetParameter(Int32 id, Int32 index, Int32* param_id, Int32* kind, VtnString* label)
{
	static const char* const kinds[] = {"LINK", "BUTTON", "REAL", "LONG", "BOOL", "STRING"};
	static const Int32 codes[] = {VTN_DA_LINK, 0, VTN_DA_REAL, VTN_DA_LONG, VTN_DA_BOOL, VTN_DA_STRING};
	const Description* d = H().description(id);
	if (!d || index < 0 || static_cast<size_t>(index) >= d->params.size())
		return false;
	const ParameterDesc& p = d->params[static_cast<size_t>(index)];
	if (param_id)
		*param_id = p.id;
	if (kind)
		for (size_t i = 0; i < 6; ++i)
			if (p.kind == kinds[i])
				*kind = codes[i];
	if (label)
		label->text = p.label;
	return true;
}

VTN_DescriptionLib description_lib = [] {
	VTN_DescriptionLib t{};
	t.head.version = 1;
	t.head.size = static_cast<Int32>(sizeof(VTN_DescriptionLib));
	t.RegisterDescription = DlRegisterDescription;
	t.GetParameterCount = DlGetParameterCount;
	t.GetParameter = DlGetParameter;
	return t;
}();

// ---- icon library (1009310) ----

bool IcRegisterIcon(Int32 id, BaseBitmap* bmp, Int32 x, Int32 y, Int32 w, Int32 h, Int32)
{
	return bmp && H().registerIcon(id, *B(bmp), x, y, w, h);
}
bool IcGetIcon(Int32 id, IconData* d)
{
	const Bitmap* icon = H().icon(id);
	if (!icon || !d)
		return false;
	d->bmp = reinterpret_cast<BaseBitmap*>(const_cast<Bitmap*>(icon));
	d->x = 0;
	d->y = 0;
	d->w = icon->width();
	d->h = icon->height();
	return true;
}
bool IcUnregisterIcon(Int32 id) { return H().unregisterIcon(id); }

VTN_IconLib icon_lib = [] {
	VTN_IconLib t{};
	t.head.version = 1;
	t.head.size = static_cast<Int32>(sizeof(VTN_IconLib));
	t.RegisterIcon = IcRegisterIcon;
	t.GetIcon = IcGetIcon;
	t.UnregisterIcon = IcUnregisterIcon;
	return t;
}();

}  // namespace

void installMediaTables(VTNOS* os, Host& host)
{
	os->bitmap = &bitmap_table;
	os->resource = &resource_table;
	host.registryAdd(VTN_REGISTRY_LIBRARY, VTN_LIB_DESCRIPTION, &description_lib);
	host.registryAdd(VTN_REGISTRY_LIBRARY, VTN_LIB_ICON, &icon_lib);
}

}  // namespace vtnhost
