// The compression library's slots (1011188), behind its table in table_file.cpp.
#ifndef VTNHOST_COMPRESSION_H
#define VTNHOST_COMPRESSION_H

#include "abi/vtn_libraries.h"

namespace vtnhost {
namespace compression {

bool compress(const void* src, Int64 src_size, void** dst, Int64* dst_size, Int32 level);
bool uncompress(const void* src, Int64 src_size, void** dst, Int64* dst_size);
VtnPackWriter* writePackedBegin(HyperFile* hf, Int64 plain_size, Int32 level);
bool writePackedPart(VtnPackWriter* w, const void* data, Int64 size);
bool writePackedEnd(VtnPackWriter* w);
Int32 readPackedBegin(HyperFile* hf, Int64* plain_size, VtnPackReader** reader);
bool readPackedPart(VtnPackReader* r, void* out, Int64 size);
bool readPackedEnd(VtnPackReader* r);

}  // namespace compression
}  // namespace vtnhost

#endif
