// The inputs of scripts/bench-job.sh, made the same way on every run:
//   bunny_big.obj   the bundled scanned model with each triangle cut into
//                   n x n (n = 23: 971 775 points, 1 943 546 triangles;
//                   --small: n = 3, 16 535 points)
//   bunny_29k.obj   the same with n = 4: 29 394 points, as two rounds of
//                   midpoint subdivision give
//   cage.obj        a box of 5 x 5 x 5 quads round the model (152 points, 300
//                   triangles once bound), the demo's margin
//   posed.obj       the cage twisted and squashed as the demo poses it
//   frames/posed_0001.obj ... the cage twisting a little further each frame
//                   (100 frames; --small: 10)
// Cutting a flat triangle keeps every new point on it, so the model stays in
// its cage; new coordinates are written with six decimals, as the scan's are.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "obj_io.h"
#include "shapes.h"

namespace {

struct Mesh
{
	std::vector<LVector> points;
	std::vector<std::vector<Int32>> faces;
};

LVector mix(const LVector& a, const LVector& b, const LVector& c, int i, int j, int n)
{
	const double wa = static_cast<double>(n - i - j) / n, wb = static_cast<double>(i) / n, wc = static_cast<double>(j) / n;
	return {a.x * wa + b.x * wb + c.x * wc, a.y * wa + b.y * wb + c.y * wc, a.z * wa + b.z * wb + c.z * wc};
}

// Each triangle cut into n x n, the points on a shared edge made once.
Mesh cut(const Mesh& in, int n)
{
	Mesh out;
	out.points = in.points;
	std::map<std::pair<Int32, Int32>, Int32> edgeStart;  // first of the n - 1 points inside edge (low, high)
	auto edgePoint = [&](Int32 u, Int32 v, int k) {       // k / n of the way from u to v
		const Int32 lo = std::min(u, v), hi = std::max(u, v);
		auto it = edgeStart.find({lo, hi});
		if (it == edgeStart.end())
		{
			const Int32 start = static_cast<Int32>(out.points.size());
			for (int s = 1; s < n; ++s)
				out.points.push_back(mix(in.points[static_cast<size_t>(lo)], in.points[static_cast<size_t>(hi)], in.points[static_cast<size_t>(lo)], s, 0, n));
			it = edgeStart.emplace(std::make_pair(lo, hi), start).first;
		}
		const int fromLo = u == lo ? k : n - k;
		return it->second + fromLo - 1;
	};
	for (const std::vector<Int32>& f : in.faces)
	{
		const Int32 A = f[0], B = f[1], C = f[2];
		const LVector &a = in.points[static_cast<size_t>(A)], &b = in.points[static_cast<size_t>(B)], &c = in.points[static_cast<size_t>(C)];
		// The grid of the triangle: (i, j) is a + (b - a) i / n + (c - a) j / n.
		std::vector<Int32> grid(static_cast<size_t>((n + 1) * (n + 1)), -1);
		auto at = [&](int i, int j) -> Int32& { return grid[static_cast<size_t>(i * (n + 1) + j)]; };
		for (int i = 0; i <= n; ++i)
			for (int j = 0; i + j <= n; ++j)
			{
				Int32 id;
				if (i == 0 && j == 0)
					id = A;
				else if (i == n)
					id = B;
				else if (j == n)
					id = C;
				else if (j == 0)
					id = edgePoint(A, B, i);
				else if (i == 0)
					id = edgePoint(A, C, j);
				else if (i + j == n)
					id = edgePoint(B, C, j);
				else
				{
					id = static_cast<Int32>(out.points.size());
					out.points.push_back(mix(a, b, c, i, j, n));
				}
				at(i, j) = id;
			}
		for (int i = 0; i < n; ++i)
			for (int j = 0; i + j < n; ++j)
			{
				out.faces.push_back({at(i, j), at(i + 1, j), at(i, j + 1)});
				if (i + j + 1 < n)
					out.faces.push_back({at(i + 1, j), at(i + 1, j + 1), at(i, j + 1)});
			}
	}
	return out;
}

bool writeText(const std::string& path, const std::string& text)
{
	std::string error;
	if (mvx::writeFileAtomic(path, text, &error))
		return true;
	std::fprintf(stderr, "job_meshes: %s\n", error.c_str());
	return false;
}

bool writeScan(const std::string& path, const Mesh& m, const std::string& comment)
{
	std::string text = "# " + comment + "\n";
	text.reserve(m.points.size() * 32 + m.faces.size() * 24);
	char line[128];
	for (const LVector& p : m.points)
	{
		std::snprintf(line, sizeof line, "v %.6f %.6f %.6f\n", p.x, p.y, p.z);
		text += line;
	}
	for (const std::vector<Int32>& f : m.faces)
	{
		std::snprintf(line, sizeof line, "f %d %d %d\n", f[0] + 1, f[1] + 1, f[2] + 1);
		text += line;
	}
	return writeText(path, text);
}

}  // namespace

int main(int argc, char** argv)
{
	bool small = false;
	std::string out;
	for (int i = 1; i < argc; ++i)
	{
		if (std::strcmp(argv[i], "--small") == 0)
			small = true;
		else
			out = argv[i];
	}
	if (out.empty())
	{
		std::fprintf(stderr, "usage: job_meshes [--small] FOLDER\n");
		return 2;
	}
	mvx::ObjMesh bunny;
	std::string error;
	if (!mvx::readObj(std::string(MORVEXER_SAMPLES_DIR) + "/bunny.obj", &bunny, &error))
	{
		std::fprintf(stderr, "job_meshes: %s\n", error.c_str());
		return 1;
	}
	std::filesystem::create_directories(out + "/frames");
	const Mesh scan{bunny.points, bunny.faces};
	const int n = small ? 3 : 23;
	const Mesh big = cut(scan, n);
	const Mesh mid = cut(scan, 4);
	if (!writeScan(out + "/bunny_big.obj", big, "the bundled scan, each triangle cut into " + std::to_string(n) + " x " + std::to_string(n)) ||
	    !writeScan(out + "/bunny_29k.obj", mid, "the bundled scan, each triangle cut into 4 x 4"))
		return 1;

	// The demo's cage and pose, with 5 quads a side.
	LVector lo{1e300, 1e300, 1e300}, hi{-1e300, -1e300, -1e300};
	for (const LVector& p : scan.points)
	{
		lo = {std::min(lo.x, p.x), std::min(lo.y, p.y), std::min(lo.z, p.z)};
		hi = {std::max(hi.x, p.x), std::max(hi.y, p.y), std::max(hi.z, p.z)};
	}
	const LVector size{hi.x - lo.x, hi.y - lo.y, hi.z - lo.z}, centre{(lo.x + hi.x) / 2, (lo.y + hi.y) / 2, (lo.z + hi.z) / 2};
	const double margin = 0.08 * std::max({size.x, size.y, size.z});
	const mvx::Shape cage = mvx::boxGrid({lo.x - margin, lo.y - margin, lo.z - margin}, {hi.x + margin, hi.y + margin, hi.z + margin}, 5, 5, 5);
	if (!writeText(out + "/cage.obj", mvx::objText(cage.points, cage.faces, "a box of 5 x 5 x 5 quads round the scan")))
		return 1;
	auto pose = [&](double angle, double squash) {
		std::vector<LVector> p;
		for (const LVector& q : cage.points)
			p.push_back(mvx::twistSquash(q, centre, size.y + 2 * margin, angle, squash));
		return p;
	};
	if (!writeText(out + "/posed.obj", mvx::objText(pose(0.9, 0.8), cage.faces, "the cage twisted and squashed")))
		return 1;
	const int frames = small ? 10 : 100;
	for (int f = 1; f <= frames; ++f)
	{
		char name[64];
		std::snprintf(name, sizeof name, "/frames/posed_%04d.obj", f);
		const double t = static_cast<double>(f) / frames;
		if (!writeText(out + name, mvx::objText(pose(0.9 * t, 1.0 - 0.2 * t), cage.faces, "frame " + std::to_string(f))))
			return 1;
	}
	std::printf("%zu points and %zu triangles in bunny_big.obj, %zu points in bunny_29k.obj, a cage of %zu points, %d frames\n",
	            big.points.size(), big.faces.size(), mid.points.size(), cage.points.size(), frames);
	return 0;
}
