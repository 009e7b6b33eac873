// Strings and file names: values that the plug-in constructs, each holding one
// host handle made and destroyed through its sub-table.
#ifndef VTN_STRING_H
#define VTN_STRING_H

#include "abi/vtn_types.h"

class String
{
public:
	String();
	String(const char* utf8);
	String(const String& other);
	~String();
	String& operator=(const String& other);

	String operator+(const String& other) const;
	String& operator+=(const String& other);
	bool operator==(const String& other) const;
	bool operator!=(const String& other) const { return !(*this == other); }

	Int64 GetLength() const;
	bool Content() const { return GetLength() > 0; }
	// Copies the UTF-8 text into out (cap bytes, zero-terminated).
	void GetCString(char* out, Int64 cap) const;

	// A number as text: integers plainly, reals with the given decimals.
	static String IntToString(Int64 v);
	static String FloatToString(double v, Int32 decimals);
	// With as many digits as the value needs (up to 15 significant ones).
	static String FloatToString(double v);

	VtnString* Handle() const { return h_; }
	// Takes over a new string that the host returned (and destroys that handle).
	static String Adopt(VtnString* s);
	// A host-owned box read as a String; valid as long as the host keeps the box.
	static const String& FromBox(const VtnString* const* box) { return *reinterpret_cast<const String*>(box); }

private:
	VtnString* h_;
};

class Filename
{
public:
	Filename();
	Filename(const String& path);
	Filename(const Filename& other);
	~Filename();
	Filename& operator=(const Filename& other);

	// Appends one path component.
	Filename operator+(const String& part) const;
	Filename GetDirectory() const;
	String GetString() const;
	bool Content() const;

	VtnFilename* Handle() const { return h_; }

private:
	VtnFilename* h_;
};

static_assert(sizeof(String) == sizeof(void*), "String is read from host boxes");
static_assert(sizeof(Filename) == sizeof(void*), "Filename is read from host boxes");

#endif
