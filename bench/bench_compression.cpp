// Packing real weights: the bundled Stanford bunny bound in a cage of 152
// points and 300 faces (the ticket's cage), its weight block as the scene
// file lays it out, packed and unpacked by each candidate on one thread in
// 1 MiB chunks, as the host packs them. Prints the ratio (plain / stored) and
// the plain MB/s both ways; then the host's own packing on every worker, and
// what the scene files' checksums cost.
//
//   bench_compression [repeats]
#include <libdeflate.h>
#include <zlib.h>
#include <zstd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "object/morvex.h"
#include "obj_io.h"
#include "shapes.h"
#include "support/morvex_access.h"
#include "vtn_pmain.h"
#include "vtn_register.h"
#include "vtnhost/actions.h"
#include "vtnhost/host.h"
#include "vtnhost/packing.h"
#include "checksum.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr size_t kChunk = vtnhost::packing::kChunkBytes;

// The weights of the bunny bound in a sphere cage of 152 points and 300 faces.
std::vector<uint8_t> bunnyWeights(vtnhost::Host& h)
{
	mvx::ObjMesh obj;
	std::string error;
	if (!mvx::readObj(MORVEXER_SAMPLES_DIR "/bunny.obj", &obj, &error))
	{
		std::fprintf(stderr, "%s\n", error.c_str());
		std::exit(1);
	}
	std::vector<LVector> points = obj.points;
	std::vector<CPolygon> polygons;
	for (const auto& f : obj.faces)
		if (f.size() >= 3)
			polygons.push_back({f[0], f[1], f[2], f.size() > 3 ? f[3] : f[2]});
	LVector lo = points[0], hi = points[0];
	for (const LVector& p : points)
	{
		lo = {std::min(lo.x, p.x), std::min(lo.y, p.y), std::min(lo.z, p.z)};
		hi = {std::max(hi.x, p.x), std::max(hi.y, p.y), std::max(hi.z, p.z)};
	}
	const LVector mid = (lo + hi) * 0.5;
	const double scale = 1.6 / std::max({hi.x - lo.x, hi.y - lo.y, hi.z - lo.z});
	for (LVector& p : points)
		p = (p - mid) * scale;
	const mvx::Shape box = mvx::boxGrid({-1, -1, -1}, {1, 1, 1}, 5, 5, 5);
	std::vector<LVector> cage_points;
	std::vector<CPolygon> cage_faces;
	for (const LVector& p : box.points)
		cage_points.push_back(p * (1.5 / Len(p)));
	for (const auto& q : box.faces)
	{
		cage_faces.push_back({q[0], q[1], q[2], q[2]});
		cage_faces.push_back({q[0], q[2], q[3], q[3]});
	}
	vtnhost::Document* doc = h.newDocument();
	auto mesh = h.newPolygonObject("bunny", points, polygons);
	vtnhost::Object* m = mesh.get();
	doc->insert(std::move(mesh), nullptr, nullptr);
	auto deformer = h.newObject(ID_MORVEXER, "Morvexer");
	vtnhost::Object* d = deformer.get();
	doc->insert(std::move(deformer), m, nullptr);
	auto cage = h.newPolygonObject("Cage", cage_points, cage_faces);
	vtnhost::setLink(d, MORVEX_CAGE, cage.get());
	doc->insert(std::move(cage), nullptr, m);
	vtnhost::pressButton(d, MORVEX_BIND);
	h.evaluate(doc);
	auto& bindings = internals(static_cast<Morvex*>(d->nodeData())).bindings;
	if (bindings.GetCount() != 1)
		std::abort();
	const Cobjbuff& r = *bindings[0];
	std::printf("bunny: %d points, cage of %d points and %d faces, %lld weights a point\n", r.pointCount, r.cagePointCount,
	            r.faceCount, static_cast<long long>(r.cagePointCount + r.faceCount));
	std::vector<uint8_t> block(static_cast<size_t>(StreamFloats(r)) * 4);
	PutStreamBlock(r, reinterpret_cast<float*>(block.data()));
	h.destroyDocument(doc);
	return block;
}

struct Candidate
{
	std::string name;
	bool shuffle;
	// Packs n bytes into out (capacity cap); the stored size, 0 on failure.
	std::function<size_t(const uint8_t*, size_t, uint8_t*, size_t)> pack;
	std::function<bool(const uint8_t*, size_t, uint8_t*, size_t)> unpack;
};

std::vector<Candidate> candidates()
{
	std::vector<Candidate> list;
	for (bool shuffle : {false, true})
	{
		for (int level : {1, 5})
			list.push_back({"zlib " + std::to_string(level), shuffle,
			                [level](const uint8_t* in, size_t n, uint8_t* out, size_t cap) {
				                uLongf got = static_cast<uLongf>(cap);
				                return compress2(out, &got, in, static_cast<uLong>(n), level) == Z_OK ? size_t(got) : 0;
			                },
			                [](const uint8_t* in, size_t n, uint8_t* out, size_t plain) {
				                uLongf got = static_cast<uLongf>(plain);
				                return uncompress(out, &got, in, static_cast<uLong>(n)) == Z_OK && got == plain;
			                }});
		for (int level : {1, 6})
			list.push_back({"libdeflate " + std::to_string(level), shuffle,
			                [level](const uint8_t* in, size_t n, uint8_t* out, size_t cap) {
				                thread_local libdeflate_compressor* c[13] = {};
				                if (!c[level])
					                c[level] = libdeflate_alloc_compressor(level);
				                return libdeflate_deflate_compress(c[level], in, n, out, cap);
			                },
			                [](const uint8_t* in, size_t n, uint8_t* out, size_t plain) {
				                thread_local libdeflate_decompressor* d = libdeflate_alloc_decompressor();
				                size_t got = 0;
				                return libdeflate_deflate_decompress(d, in, n, out, plain, &got) == LIBDEFLATE_SUCCESS && got == plain;
			                }});
		for (int level : {-1, 1, 3, 6})
			list.push_back({"zstd " + std::to_string(level), shuffle,
			                [level](const uint8_t* in, size_t n, uint8_t* out, size_t cap) {
				                thread_local ZSTD_CCtx* c = ZSTD_createCCtx();
				                const size_t got = ZSTD_compressCCtx(c, out, cap, in, n, level);
				                return ZSTD_isError(got) ? size_t(0) : got;
			                },
			                [](const uint8_t* in, size_t n, uint8_t* out, size_t plain) {
				                thread_local ZSTD_DCtx* d = ZSTD_createDCtx();
				                return ZSTD_decompressDCtx(d, out, plain, in, n) == plain;
			                }});
	}
	return list;
}

double seconds(Clock::time_point a, Clock::time_point b) { return std::chrono::duration<double>(b - a).count(); }

}  // namespace

int main(int argc, char** argv)
{
	// scripts/bench.sh hands every program its own options: anything but a count is ignored.
	const int given = argc > 1 ? std::atoi(argv[1]) : 0;
	const int repeats = given > 0 ? given : 5;
	vtnhost::Host h;
	InitOS(h.table());
	RegisterObjectPlugin(ID_MORVEXER, String("Morvexer"), OBJECT_MODIFIER, Morvex::Alloc, String(), nullptr, 0);
	const std::vector<uint8_t> plain = bunnyWeights(h);
	const double mb = plain.size() / 1e6;
	std::printf("weights: %.1f MB, %d repeats, chunks of %zu KiB, one thread\n\n", mb, repeats, kChunk >> 10);
	std::printf("%-16s %-8s %7s %12s %12s\n", "codec", "shuffle", "ratio", "pack MB/s", "unpack MB/s");

	std::vector<uint8_t> shuffled(kChunk), stored(2 * kChunk + 1024), back(kChunk), unshuffled(kChunk);
	for (const Candidate& c : candidates())
	{
		size_t total = 0;
		double pack_s = 0, unpack_s = 0;
		bool ok = true;
		for (int rep = 0; rep < repeats && ok; ++rep)
			for (size_t at = 0; at < plain.size() && ok; at += kChunk)
			{
				const size_t n = std::min(kChunk, plain.size() - at);
				const auto t0 = Clock::now();
				const uint8_t* src = plain.data() + at;
				if (c.shuffle)
				{
					vtnhost::packing::shuffle4(src, shuffled.data(), n);
					src = shuffled.data();
				}
				const size_t got = c.pack(src, n, stored.data(), stored.size());
				const auto t1 = Clock::now();
				ok = got > 0 && c.unpack(stored.data(), got, back.data(), n);
				if (c.shuffle)
					vtnhost::packing::unshuffle4(back.data(), unshuffled.data(), n);
				const auto t2 = Clock::now();
				ok = ok && std::memcmp(c.shuffle ? unshuffled.data() : back.data(), plain.data() + at, n) == 0;
				pack_s += seconds(t0, t1);
				unpack_s += seconds(t1, t2);
				if (rep == 0)
					total += got;
			}
		if (!ok)
		{
			std::printf("%-16s %-8s failed\n", c.name.c_str(), c.shuffle ? "yes" : "no");
			continue;
		}
		std::printf("%-16s %-8s %7.3f %12.0f %12.0f\n", c.name.c_str(), c.shuffle ? "yes" : "no", double(plain.size()) / total,
		            mb * repeats / pack_s, mb * repeats / unpack_s);
	}

	// The host's own packing, as a scene file gets it, on every worker.
	std::printf("\nthe host's blocks (zstd %d, shuffled) on %d workers:\n", vtnhost::packing::kZstdLevel, h.workerCount());
	double pack_s = 0, unpack_s = 0;
	size_t stored_size = 0;
	for (int rep = 0; rep < repeats; ++rep)
	{
		void* packed = nullptr;
		void* unpacked = nullptr;
		Int64 packed_n = 0, unpacked_n = 0;
		const auto t0 = Clock::now();
		if (!CompressData(plain.data(), Int64(plain.size()), packed, packed_n, 5))
			std::abort();
		const auto t1 = Clock::now();
		if (!UncompressData(packed, packed_n, unpacked, unpacked_n) || unpacked_n != Int64(plain.size()) ||
		    std::memcmp(unpacked, plain.data(), plain.size()) != 0)
			std::abort();
		const auto t2 = Clock::now();
		pack_s += seconds(t0, t1);
		unpack_s += seconds(t1, t2);
		stored_size = size_t(packed_n);
		_GeFree(&packed);
		_GeFree(&unpacked);
	}
	std::printf("ratio %.3f, pack %.0f MB/s, unpack %.0f MB/s (one-block calls, a copy included)\n", double(plain.size()) / stored_size,
	            mb * repeats / pack_s, mb * repeats / unpack_s);

	// What a scene file's checksums cost: every byte is summed once when saved
	// and once more when loaded, on one thread, in 1 MiB pieces as the reader sums them.
	uint64_t summed = 0, sink = 0;
	const auto s0 = Clock::now();
	while (summed < (uint64_t{1} << 30))
	{
		vtnhost::Checksum sum;
		for (size_t at = 0; at < plain.size(); at += kChunk)
			sum.add(plain.data() + at, std::min(kChunk, plain.size() - at));
		sink ^= sum.value();
		summed += plain.size();
	}
	const double sum_s = seconds(s0, Clock::now());
	std::printf("\nXXH64 (scene-file checksums), one thread: %.0f MB/s, %.2f s per GB (%016llx)\n", summed / 1e6 / sum_s,
	            sum_s / (summed / 1e9), static_cast<unsigned long long>(sink));
	return 0;
}
