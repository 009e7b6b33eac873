// Resources of a plug-in, read from the "res" folder beside its library:
//   res/strings.str                 lines of  <number> "<text>"
//   res/description/<NAME>.res      DESCRIPTION <NAME> { <KIND> <SYMBOL> <id> "<label>"; ... }
// Kinds: LINK, BUTTON, REAL, LONG, BOOL, STRING.
#ifndef VTNHOST_RESOURCES_H
#define VTNHOST_RESOURCES_H

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "vtnhost/values.h"

namespace vtnhost {

struct ParameterDesc
{
	Int32 id = 0;
	std::string kind;
	std::string symbol;
	std::string label;
};

struct Description
{
	std::string name;
	std::vector<ParameterDesc> params;
};

// Reads a description file; false with "file:line: problem" in *error.
bool parseDescription(const std::string& path, Description* out, std::string* error);
// Reads a string table file; false with "file:line: problem" in *error.
bool parseStrings(const std::string& path, std::map<Int32, std::string>* out, std::string* error);

// A string the plug-in reads through a box: the box stays at one address.
struct StringSlot
{
	VtnString text;
	VtnString* box = &text;
	StringSlot() = default;
	StringSlot(const StringSlot&) = delete;
	StringSlot& operator=(const StringSlot&) = delete;
};

}  // namespace vtnhost

// The loaded resources of one plug-in directory.
struct VtnResource
{
	std::string dir;  // the "res" folder
	std::map<Int32, std::unique_ptr<vtnhost::StringSlot>> strings;
};

namespace vtnhost {
typedef VtnResource ResourceSet;
// Loads dir/res; null with the reason in *error when there is no such folder
// or its string table cannot be read.
std::unique_ptr<ResourceSet> loadResources(const std::string& plugin_dir, std::string* error);
}  // namespace vtnhost

#endif
