#include "vtn_file.h"

#include "vtn_pmain.h"

namespace {
VTN_HyperFile* H() { return t_VTNOS->hyperfile; }
}  // namespace

bool HyperFile::WriteLong(Int32 v) { return H()->WriteLong(this, v); }
bool HyperFile::WriteReal(double v) { return H()->WriteReal(this, v); }
bool HyperFile::WriteVector(const LVector& v) { return H()->WriteVector(this, &v); }
bool HyperFile::WriteMatrix(const LMatrix& m) { return H()->WriteMatrix(this, &m); }
bool HyperFile::WriteMemory(const void* data, Int64 size) { return H()->WriteMemory(this, data, size); }
bool HyperFile::ReadLong(Int32* v) { return H()->ReadLong(this, v); }
bool HyperFile::ReadReal(double* v) { return H()->ReadReal(this, v); }
bool HyperFile::ReadVector(LVector* v) { return H()->ReadVector(this, v); }
bool HyperFile::ReadMatrix(LMatrix* m) { return H()->ReadMatrix(this, m); }
bool HyperFile::ReadMemory(void** data, Int64* size) { return H()->ReadMemory(this, data, size); }
BaseDocument* HyperFile::GetDocument() { return H()->GetDocument(this); }
