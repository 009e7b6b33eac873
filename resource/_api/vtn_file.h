// Scene-file streams: typed values, read back in the order written. Every read
// reports failure at the end of the data or on a value of another kind.
#ifndef VTN_FILE_H
#define VTN_FILE_H

#include "abi/vtn_types.h"

class HyperFile
{
public:
	HyperFile() = delete;
	bool WriteLong(Int32 v);
	bool WriteReal(double v);
	bool WriteVector(const LVector& v);
	bool WriteMatrix(const LMatrix& m);
	bool WriteMemory(const void* data, Int64 size);
	bool ReadLong(Int32* v);
	bool ReadReal(double* v);
	bool ReadVector(LVector* v);
	bool ReadMatrix(LMatrix* m);
	// *data becomes a host block (release with _GeFree) holding *size bytes.
	bool ReadMemory(void** data, Int64* size);
	BaseDocument* GetDocument();
};

#endif
