// The plug-in's resources: strings by number and parameter descriptions,
// loaded by the host from the "res" folder beside the library.
#ifndef VTN_RESOURCE_H
#define VTN_RESOURCE_H

#include "abi/vtn_types.h"
#include "vtn_string.h"

typedef VtnResource LocalResource;

class GeResource
{
public:
	GeResource() = default;
	~GeResource();
	GeResource(const GeResource&) = delete;
	GeResource& operator=(const GeResource&) = delete;

	// Loads the resources of the plug-in's directory; a second call never reloads.
	bool Init();
	bool Init(const Filename& dir);
	// Uses the host's own resources, which the plug-in never frees.
	bool InitAsGlobal();
	// The string with that number; the host's empty string without resources.
	const String& LoadString(Int32 id) const;
	void Free();

	LocalResource* Get() const { return handle_; }

private:
	LocalResource* handle_ = nullptr;
	Int32 loaded_ = 0;
	Int32 global_ = 0;
	Filename* path_ = nullptr;
};

// The plug-in's resources.
extern GeResource resource;

const String& GeLoadString(Int32 id);
void FreeResource();
// Registers the description `name` for plug-in type id (res null: the plug-in's own).
bool RegisterDescription(Int32 id, const String& name, LocalResource* res = nullptr);

#endif
