// Parameter containers, parameter values and parameter identifiers.
#ifndef VTN_BASECONTAINER_H
#define VTN_BASECONTAINER_H

#include "abi/vtn_types.h"
#include "vtn_string.h"

class DescID
{
public:
	DescID() : raw_{} {}
	explicit DescID(const DescLevel& level) : raw_{}
	{
		raw_.depth = 1;
		raw_.level[0] = level;
	}
	Int32 GetDepth() const { return raw_.depth; }
	const DescLevel& operator[](Int32 i) const { return raw_.level[i]; }
	const VtnDescID* Raw() const { return &raw_; }

private:
	VtnDescID raw_;
};

class GeData
{
public:
	GeData();
	explicit GeData(Int32 v);
	explicit GeData(double v);
	GeData(const GeData&) = delete;
	GeData& operator=(const GeData&) = delete;
	~GeData();

	void SetLong(Int32 v);
	void SetReal(double v);
	void SetBool(bool v);
	Int32 GetType() const;
	Int32 GetLong() const;
	double GetReal() const;
	const VtnData* Handle() const { return h_; }

private:
	VtnData* h_;
};

class BaseContainer
{
public:
	BaseContainer();
	BaseContainer(const BaseContainer& other);
	BaseContainer& operator=(const BaseContainer& other);
	~BaseContainer();

	// 0 when the entry is absent, else its kind.
	Int32 GetType(Int32 id) const;
	void SetLong(Int32 id, Int32 v);
	void SetReal(Int32 id, double v);
	void SetBool(Int32 id, bool v);
	void SetString(Int32 id, const String& v);
	Int32 GetLong(Int32 id, Int32 preset = 0) const;
	double GetReal(Int32 id, double preset = 0.0) const;
	bool GetBool(Int32 id, bool preset = false) const;
	String GetString(Int32 id) const;
	bool SetParameter(const DescID& id, const GeData& v);
	// The linked object, or null when the link is empty or its target is gone.
	BaseList2D* GetObjectLink(Int32 id, const BaseDocument* doc) const;

	VtnContainer* Handle() const { return h_; }
	// A host-owned box read as a BaseContainer (a node's own container).
	static BaseContainer* FromBox(VtnContainer* const* box)
	{
		return reinterpret_cast<BaseContainer*>(const_cast<VtnContainer**>(box));
	}

private:
	VtnContainer* h_;
};

static_assert(sizeof(BaseContainer) == sizeof(void*), "BaseContainer is read from host boxes");

#endif
