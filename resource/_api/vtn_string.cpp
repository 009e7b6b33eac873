#include "vtn_string.h"

#include <cstdio>

#include "vtn_pmain.h"

namespace {
VTN_String* S() { return t_VTNOS->string; }
VTN_Filename* F() { return t_VTNOS->filename; }
}  // namespace

String::String() : h_(S()->Create("")) {}
String::String(const char* utf8) : h_(S()->Create(utf8 ? utf8 : "")) {}
String::String(const String& other) : h_(S()->Clone(other.h_)) {}
String::~String() { S()->Destroy(h_); }

String& String::operator=(const String& other)
{
	if (this != &other)
		S()->Assign(h_, other.h_);
	return *this;
}

String String::operator+(const String& other) const
{
	String r(*this);
	r += other;
	return r;
}

String& String::operator+=(const String& other)
{
	S()->Append(h_, other.h_);
	return *this;
}

bool String::operator==(const String& other) const { return S()->Compare(h_, other.h_) == 0; }

Int64 String::GetLength() const { return S()->GetLength(h_); }

void String::GetCString(char* out, Int64 cap) const { S()->GetUtf8(h_, out, cap); }

String String::Adopt(VtnString* s)
{
	String r;
	S()->Assign(r.h_, s);
	S()->Destroy(s);
	return r;
}

String String::IntToString(Int64 v)
{
	char buf[32];
	std::snprintf(buf, sizeof buf, "%lld", static_cast<long long>(v));
	return String(buf);
}

String String::FloatToString(double v, Int32 decimals)
{
	char buf[64];
	std::snprintf(buf, sizeof buf, "%.*f", static_cast<int>(decimals), v);
	return String(buf);
}

String String::FloatToString(double v)
{
	char buf[64];
	std::snprintf(buf, sizeof buf, "%.15g", v);
	return String(buf);
}

Filename::Filename() : h_(F()->Create()) {}
Filename::Filename(const String& path) : h_(F()->Create()) { F()->SetString(h_, path.Handle()); }
Filename::Filename(const Filename& other) : h_(F()->Clone(other.h_)) {}
Filename::~Filename() { F()->Destroy(h_); }

Filename& Filename::operator=(const Filename& other)
{
	if (this != &other)
		F()->Assign(h_, other.h_);
	return *this;
}

Filename Filename::operator+(const String& part) const
{
	Filename r(*this);
	F()->Join(r.h_, part.Handle());
	return r;
}

Filename Filename::GetDirectory() const
{
	Filename r;
	VtnFilename* dir = F()->GetDirectory(h_);
	F()->Assign(r.h_, dir);
	F()->Destroy(dir);
	return r;
}

String Filename::GetString() const
{
	return String::Adopt(F()->GetString(h_));
}

bool Filename::Content() const { return !F()->IsEmpty(h_); }
