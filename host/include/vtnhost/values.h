// The host's value types. These complete the opaque handle types of the
// module boundary (VtnString, VtnFilename, VtnContainer, VtnData), so the
// plug-in's handles are plain pointers to these structs.
#ifndef VTNHOST_VALUES_H
#define VTNHOST_VALUES_H

#include <cstdint>
#include <map>
#include <string>

#include "abi/vtn_tables.h"

struct VtnString
{
	std::string text;
};

struct VtnFilename
{
	std::string path;
};

namespace vtnhost {

// One container entry or GeData value. Links hold the target's node id, so a
// link to a deleted node reads as empty.
struct Value
{
	Int32 type = VTN_DA_NIL;
	Int32 l = 0;
	double r = 0.0;
	std::string s;
	uint64_t link = 0;

	static Value Long(Int32 v) { Value x; x.type = VTN_DA_LONG; x.l = v; return x; }
	static Value Real(double v) { Value x; x.type = VTN_DA_REAL; x.r = v; return x; }
	static Value Bool(bool v) { Value x; x.type = VTN_DA_BOOL; x.l = v ? 1 : 0; return x; }
	static Value Text(std::string v) { Value x; x.type = VTN_DA_STRING; x.s = std::move(v); return x; }
	static Value Link(uint64_t node_id) { Value x; x.type = VTN_DA_LINK; x.link = node_id; return x; }
};

bool operator==(const Value& a, const Value& b);

}  // namespace vtnhost

struct VtnData
{
	vtnhost::Value v;
};

struct VtnContainer
{
	std::map<Int32, vtnhost::Value> entries;

	const vtnhost::Value* find(Int32 id) const
	{
		auto it = entries.find(id);
		return it == entries.end() ? nullptr : &it->second;
	}
	Int32 typeOf(Int32 id) const
	{
		const vtnhost::Value* v = find(id);
		return v ? v->type : VTN_DA_NIL;
	}
};

#endif
