#include "support/meshes.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <utility>

namespace testmesh {

Mesh objMesh(const std::string& path)
{
	Mesh m;
	std::ifstream in(path);
	std::string line;
	while (std::getline(in, line))
		if (line.rfind("v ", 0) == 0)
		{
			LVector p;
			if (std::sscanf(line.c_str() + 2, "%lf %lf %lf", &p.x, &p.y, &p.z) == 3)
				m.points.push_back(p);
		}
		else if (line.rfind("f ", 0) == 0)
		{
			// Each corner's first number, 1-based; "7/2/5" names point 7.
			std::istringstream corners(line.substr(2));
			std::vector<Int32> f;
			std::string corner;
			while (corners >> corner)
				f.push_back(static_cast<Int32>(std::stol(corner)) - 1);
			for (size_t k = 2; k < f.size(); ++k)
				m.polygons.push_back({f[0], f[k - 1], f[k], f[k]});
		}
	return m;
}

Mesh objPoints(const std::string& path)
{
	Mesh m = objMesh(path);
	m.polygons.clear();
	return m;
}

namespace {

const double kPi = 3.14159265358979323846;

CPolygon triangle(Int32 a, Int32 b, Int32 c) { return {a, b, c, c}; }
CPolygon quad(Int32 a, Int32 b, Int32 c, Int32 d) { return {a, b, c, d}; }
bool isTriangle(const CPolygon& p) { return p.c == p.d; }

// Corners must come out exactly, so the ends are not interpolated.
double lerpStep(double lo, double hi, int k, int n)
{
	if (k == 0)
		return lo;
	if (k == n)
		return hi;
	return lo + (hi - lo) * k / n;
}

// Signed solid angle of triangle abc seen from p; positive when p is on the
// side the face turns away from.
double solidAngle(const LVector& p, const LVector& A, const LVector& B, const LVector& C)
{
	const LVector a = sub(A, p), b = sub(B, p), c = sub(C, p);
	const double la = length(a), lb = length(b), lc = length(c);
	const double num = dot(a, cross(b, c));
	// In the face's plane: atan2 of a rounded +-0 against a negative
	// denominator would give +-2 pi at random.
	if (std::fabs(num) <= 1e-12 * la * lb * lc)
		return 0.0;
	const double den = la * lb * lc + dot(a, b) * lc + dot(a, c) * lb + dot(b, c) * la;
	return 2.0 * std::atan2(num, den);
}

template <typename F>
void forEachTriangle(const Mesh& m, F f)
{
	for (const CPolygon& p : m.polygons)
	{
		f(m.points[p.a], m.points[p.b], m.points[p.c]);
		if (!isTriangle(p))
			f(m.points[p.a], m.points[p.c], m.points[p.d]);
	}
}

LVector transformPoint(const LMatrix& m, const LVector& p)
{
	return add(m.off, applyLinear(m, p));
}

}  // namespace

Mesh box(LVector lo, LVector hi)
{
	Mesh m;
	for (int i = 0; i < 8; ++i)
		m.points.push_back({(i & 1) ? hi.x : lo.x, (i & 2) ? hi.y : lo.y, (i & 4) ? hi.z : lo.z});
	m.polygons = {quad(0, 2, 3, 1), quad(4, 5, 7, 6), quad(0, 1, 5, 4),
	              quad(2, 6, 7, 3), quad(0, 4, 6, 2), quad(1, 3, 7, 5)};
	return m;
}

Mesh boxTriangles(LVector lo, LVector hi) { return triangulated(box(lo, hi)); }

Mesh subdividedBox(LVector lo, LVector hi, int n)
{
	Mesh m;
	if (n < 1)
		return m;
	const int side = n + 1;
	// Lattice index to point index, so neighbouring sides share their edges.
	std::vector<Int32> index(static_cast<size_t>(side) * side * side, -1);
	auto pointAt = [&](const int c[3]) {
		Int32& slot = index[(static_cast<size_t>(c[2]) * side + c[1]) * side + c[0]];
		if (slot < 0)
		{
			slot = static_cast<Int32>(m.points.size());
			m.points.push_back({lerpStep(lo.x, hi.x, c[0], n), lerpStep(lo.y, hi.y, c[1], n),
			                    lerpStep(lo.z, hi.z, c[2], n)});
		}
		return slot;
	};
	for (int axis = 0; axis < 3; ++axis)
		for (int high = 0; high < 2; ++high)
		{
			// u x v is +axis; swapped on the low side so the face still looks out.
			int u = (axis + 1) % 3, v = (axis + 2) % 3;
			if (!high)
				std::swap(u, v);
			auto at = [&](int i, int j) {
				int c[3];
				c[axis] = high ? n : 0;
				c[u] = i;
				c[v] = j;
				return pointAt(c);
			};
			for (int j = 0; j < n; ++j)
				for (int i = 0; i < n; ++i)
					m.polygons.push_back(quad(at(i, j), at(i + 1, j), at(i + 1, j + 1), at(i, j + 1)));
		}
	return m;
}

Mesh icosphere(LVector centre, double radius, int subdivisions)
{
	const double t = (1.0 + std::sqrt(5.0)) / 2.0;
	Mesh m;
	m.points = {{-1, t, 0}, {1, t, 0}, {-1, -t, 0}, {1, -t, 0}, {0, -1, t}, {0, 1, t},
	            {0, -1, -t}, {0, 1, -t}, {t, 0, -1}, {t, 0, 1}, {-t, 0, -1}, {-t, 0, 1}};
	for (LVector& p : m.points)
		p = scaled(p, 1.0 / length(p));
	const int faces[20][3] = {{0, 11, 5}, {0, 5, 1},  {0, 1, 7},   {0, 7, 10}, {0, 10, 11}, {1, 5, 9}, {5, 11, 4},
	                          {11, 10, 2}, {10, 7, 6}, {7, 1, 8},   {3, 9, 4},  {3, 4, 2},   {3, 2, 6}, {3, 6, 8},
	                          {3, 8, 9},  {4, 9, 5},  {2, 4, 11},  {6, 2, 10}, {8, 6, 7},   {9, 8, 1}};
	for (const auto& f : faces)
		m.polygons.push_back(triangle(f[0], f[1], f[2]));

	for (int s = 0; s < subdivisions; ++s)
	{
		std::map<std::pair<Int32, Int32>, Int32> midpoints;
		auto midpoint = [&](Int32 a, Int32 b) {
			const auto key = std::make_pair(std::min(a, b), std::max(a, b));
			const auto found = midpoints.find(key);
			if (found != midpoints.end())
				return found->second;
			const LVector mid = add(m.points[a], m.points[b]);
			const Int32 i = static_cast<Int32>(m.points.size());
			m.points.push_back(scaled(mid, 1.0 / length(mid)));
			midpoints[key] = i;
			return i;
		};
		std::vector<CPolygon> finer;
		for (const CPolygon& p : m.polygons)
		{
			const Int32 ab = midpoint(p.a, p.b), bc = midpoint(p.b, p.c), ca = midpoint(p.c, p.a);
			finer.push_back(triangle(p.a, ab, ca));
			finer.push_back(triangle(p.b, bc, ab));
			finer.push_back(triangle(p.c, ca, bc));
			finer.push_back(triangle(ab, bc, ca));
		}
		m.polygons.swap(finer);
	}
	for (LVector& p : m.points)
		p = add(centre, scaled(p, radius));
	return m;
}

Mesh uvSphere(LVector centre, double radius, int rings, int segments)
{
	Mesh m;
	if (rings < 2 || segments < 3)
		return m;
	m.points.push_back(add(centre, {0, radius, 0}));
	for (int k = 1; k < rings; ++k)
	{
		const double theta = kPi * k / rings;
		for (int s = 0; s < segments; ++s)
		{
			const double phi = 2.0 * kPi * s / segments;
			const LVector unit = {std::sin(theta) * std::cos(phi), std::cos(theta), std::sin(theta) * std::sin(phi)};
			m.points.push_back(add(centre, scaled(unit, radius)));
		}
	}
	const Int32 south = static_cast<Int32>(m.points.size());
	m.points.push_back(add(centre, {0, -radius, 0}));

	auto ring = [&](int k, int s) { return static_cast<Int32>(1 + (k - 1) * segments + s % segments); };
	for (int s = 0; s < segments; ++s)
		m.polygons.push_back(triangle(0, ring(1, s + 1), ring(1, s)));
	for (int k = 1; k + 1 < rings; ++k)
		for (int s = 0; s < segments; ++s)
			m.polygons.push_back(quad(ring(k, s), ring(k, s + 1), ring(k + 1, s + 1), ring(k + 1, s)));
	for (int s = 0; s < segments; ++s)
		m.polygons.push_back(triangle(south, ring(rings - 1, s), ring(rings - 1, s + 1)));
	return m;
}

Mesh grid(LVector origin, LVector u, LVector v, int nu, int nv)
{
	Mesh m;
	if (nu < 1 || nv < 1)
		return m;
	for (int j = 0; j <= nv; ++j)
		for (int i = 0; i <= nu; ++i)
			m.points.push_back(add(origin, add(scaled(u, double(i) / nu), scaled(v, double(j) / nv))));
	auto at = [&](int i, int j) { return static_cast<Int32>(j * (nu + 1) + i); };
	for (int j = 0; j < nv; ++j)
		for (int i = 0; i < nu; ++i)
			m.polygons.push_back(quad(at(i, j), at(i + 1, j), at(i + 1, j + 1), at(i, j + 1)));
	return m;
}

Mesh triangulated(const Mesh& m)
{
	Mesh out;
	out.points = m.points;
	for (const CPolygon& p : m.polygons)
	{
		if (isTriangle(p))
			out.polygons.push_back(p);
		else
		{
			out.polygons.push_back(triangle(p.a, p.b, p.c));
			out.polygons.push_back(triangle(p.a, p.c, p.d));
		}
	}
	return out;
}

Mesh transformed(const Mesh& m, const LMatrix& mat)
{
	Mesh out = m;
	for (LVector& p : out.points)
		p = transformPoint(mat, p);
	return out;
}

std::string edgeProblems(const Mesh& m)
{
	std::ostringstream out;
	int reported = 0;
	auto report = [&](const std::string& what) {
		if (reported++ < 8)
			out << what << "; ";
	};
	const Int32 count = static_cast<Int32>(m.points.size());
	std::map<std::pair<Int32, Int32>, int> directed;
	for (size_t i = 0; i < m.polygons.size(); ++i)
	{
		const CPolygon& p = m.polygons[i];
		const Int32 v[4] = {p.a, p.b, p.c, p.d};
		const int corners = isTriangle(p) ? 3 : 4;
		bool usable = true;
		for (int k = 0; k < corners; ++k)
		{
			if (v[k] < 0 || v[k] >= count)
			{
				report("polygon " + std::to_string(i) + " index " + std::to_string(v[k]) + " out of range");
				usable = false;
			}
			for (int l = 0; l < k; ++l)
				if (v[k] == v[l])
				{
					report("polygon " + std::to_string(i) + " repeats point " + std::to_string(v[k]));
					usable = false;
				}
		}
		if (!usable)
			continue;
		for (int k = 0; k < corners; ++k)
			++directed[{v[k], v[(k + 1) % corners]}];
	}
	for (const auto& e : directed)
	{
		const std::string name = std::to_string(e.first.first) + "->" + std::to_string(e.first.second);
		if (e.second != 1)
			report("edge " + name + " used " + std::to_string(e.second) + " times in one direction");
		const auto back = directed.find({e.first.second, e.first.first});
		if (back == directed.end())
			report("edge " + name + " has no opposite");
	}
	if (reported > 8)
		out << "and " << (reported - 8) << " more";
	return out.str();
}

double signedVolume(const Mesh& m)
{
	if (m.points.empty())
		return 0.0;
	// Against the mean point rather than the origin: same value for a closed
	// mesh, less cancellation when it sits far from the origin.
	LVector ref = {0, 0, 0};
	for (const LVector& p : m.points)
		ref = add(ref, p);
	ref = scaled(ref, 1.0 / m.points.size());
	double six = 0.0;
	forEachTriangle(m, [&](const LVector& a, const LVector& b, const LVector& c) {
		six += dot(sub(a, ref), cross(sub(b, ref), sub(c, ref)));
	});
	return six / 6.0;
}

double windingNumber(const Mesh& m, const LVector& p)
{
	double omega = 0.0;
	forEachTriangle(m, [&](const LVector& a, const LVector& b, const LVector& c) { omega += solidAngle(p, a, b, c); });
	return omega / (4.0 * kPi);
}

bool insideByWinding(const Mesh& m, const LVector& p) { return windingNumber(m, p) > 0.5; }

bool insideBox(LVector lo, LVector hi, const LVector& p)
{
	return p.x > lo.x && p.x < hi.x && p.y > lo.y && p.y < hi.y && p.z > lo.z && p.z < hi.z;
}

std::vector<LVector> randomPointsInBox(LVector lo, LVector hi, int n, unsigned seed)
{
	std::mt19937 rng(seed);
	// The uniform distributions of the standard library differ between
	// implementations; this is genrand_res53 of the reference generator.
	auto unit = [&] {
		const double a = static_cast<double>(rng() >> 5), b = static_cast<double>(rng() >> 6);
		return (a * 67108864.0 + b) / 9007199254740992.0;
	};
	auto within = [&](double l, double h) {
		const double x = l + (h - l) * unit();
		return x < h ? x : std::nextafter(h, l);
	};
	std::vector<LVector> points;
	for (int i = 0; i < n; ++i)
	{
		LVector p;
		p.x = within(lo.x, hi.x);
		p.y = within(lo.y, hi.y);
		p.z = within(lo.z, hi.z);
		points.push_back(p);
	}
	return points;
}

PushedMesh pushedIcosphere(LVector centre, double radius, int subdivisions, double factor, int every)
{
	PushedMesh out;
	out.mesh = icosphere(centre, radius, subdivisions);
	if (every < 1)
		return out;
	for (size_t i = 0; i < out.mesh.points.size(); i += every)
	{
		LVector& p = out.mesh.points[i];
		p = add(centre, scaled(sub(p, centre), factor));
		out.pushed.push_back(static_cast<Int32>(i));
	}
	return out;
}

LVector apply(const LMatrix& m, const LVector& p) { return transformPoint(m, p); }

LVector applyLinear(const LMatrix& m, const LVector& d)
{
	return add(add(scaled(m.v1, d.x), scaled(m.v2, d.y)), scaled(m.v3, d.z));
}

LMatrix identity() { return {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}}; }

LMatrix translation(LVector t)
{
	LMatrix m = identity();
	m.off = t;
	return m;
}

LMatrix rotation(LVector axis, double radians)
{
	const LVector k = scaled(axis, 1.0 / length(axis));
	const double c = std::cos(radians), s = std::sin(radians);
	// Rodrigues: v cos + (k x v) sin + k (k.v)(1 - cos).
	auto rotate = [&](const LVector& v) {
		return add(add(scaled(v, c), scaled(cross(k, v), s)), scaled(k, dot(k, v) * (1.0 - c)));
	};
	return {{0, 0, 0}, rotate({1, 0, 0}), rotate({0, 1, 0}), rotate({0, 0, 1})};
}

LMatrix scaling(double s) { return {{0, 0, 0}, {s, 0, 0}, {0, s, 0}, {0, 0, s}}; }

LMatrix product(const LMatrix& a, const LMatrix& b)
{
	return {transformPoint(a, b.off), applyLinear(a, b.v1), applyLinear(a, b.v2), applyLinear(a, b.v3)};
}

LMatrix inverse(const LMatrix& m)
{
	// Rows of the inverse of the column matrix [v1 v2 v3] are the cross
	// products of the other two columns over the determinant.
	const double det = dot(m.v1, cross(m.v2, m.v3));
	const LVector r1 = scaled(cross(m.v2, m.v3), 1.0 / det);
	const LVector r2 = scaled(cross(m.v3, m.v1), 1.0 / det);
	const LVector r3 = scaled(cross(m.v1, m.v2), 1.0 / det);
	LMatrix inv;
	inv.v1 = {r1.x, r2.x, r3.x};
	inv.v2 = {r1.y, r2.y, r3.y};
	inv.v3 = {r1.z, r2.z, r3.z};
	inv.off = scaled(applyLinear(inv, m.off), -1.0);
	return inv;
}

}  // namespace testmesh
