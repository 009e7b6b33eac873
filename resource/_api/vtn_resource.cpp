#define VTN_SOURCE "vtn_resource"
#include "vtn_resource.h"

#include "vtn_memory.h"
#include "vtn_pmain.h"

GeResource resource;

namespace {
VTN_DescriptionLib* description_cache = nullptr;
}

GeResource::~GeResource() { Free(); }

bool GeResource::Init() { return Init(GeGetPluginPath()); }

bool GeResource::Init(const Filename& dir)
{
	if (!path_)
	{
		void* mem = operator new(sizeof(Filename), std::nothrow, 59, "vtn_resource");
		if (!mem)
			return false;
		path_ = new (mem) Filename(dir);
	}
	if (loaded_)
		return handle_ != nullptr;
	handle_ = t_VTNOS->resource->Load(path_->Handle());
	loaded_ = 1;
	return handle_ != nullptr;
}

bool GeResource::InitAsGlobal()
{
	global_ = 1;
	handle_ = t_VTNOS->resource->GetGlobal();
	return handle_ != nullptr;
}

const String& GeResource::LoadString(Int32 id) const
{
	if (!handle_)
		return String::FromBox(t_VTNOS->string->GetEmptyBox());
	return String::FromBox(t_VTNOS->resource->LoadString(handle_, id));
}

void GeResource::Free()
{
	if (global_)
		return;
	if (handle_)
	{
		t_VTNOS->resource->Free(handle_);
		handle_ = nullptr;
	}
	loaded_ = 0;
	DeleteObj(path_);
}

const String& GeLoadString(Int32 id) { return resource.LoadString(id); }

void FreeResource() { resource.Free(); }

bool RegisterDescription(Int32 id, const String& name, LocalResource* res)
{
	VTN_DescriptionLib* lib = CheckLibT(VTN_LIB_DESCRIPTION, VTN_LIB_END(VTN_DescriptionLib, RegisterDescription), &description_cache);
	if (!lib || !lib->RegisterDescription)
		return false;
	return lib->RegisterDescription(id, name.Handle(), res ? res : resource.Get());
}
