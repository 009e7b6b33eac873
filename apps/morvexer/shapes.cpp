#include "shapes.h"

#include <cmath>
#include <map>
#include <tuple>

namespace mvx {

Shape boxGrid(const LVector& lo, const LVector& hi, int nx, int ny, int nz)
{
	Shape s;
	const int n[3] = {nx, ny, nz};
	std::map<std::tuple<int, int, int>, Int32> index;
	auto point = [&](int i, int j, int k) {
		auto key = std::make_tuple(i, j, k);
		auto it = index.find(key);
		if (it != index.end())
			return it->second;
		const Int32 id = static_cast<Int32>(s.points.size());
		s.points.push_back({lo.x + (hi.x - lo.x) * i / nx, lo.y + (hi.y - lo.y) * j / ny, lo.z + (hi.z - lo.z) * k / nz});
		index.emplace(key, id);
		return id;
	};
	// For each axis, the two faces across it; (u, v) run along the other two axes
	// so that u x v points along +axis, and the low face is walked the other way.
	for (int axis = 0; axis < 3; ++axis)
	{
		const int u = (axis + 1) % 3, v = (axis + 2) % 3;
		for (int side = 0; side < 2; ++side)
			for (int a = 0; a < n[u]; ++a)
				for (int b = 0; b < n[v]; ++b)
				{
					auto at = [&](int da, int db) {
						int c[3];
						c[axis] = side ? n[axis] : 0;
						c[u] = a + da;
						c[v] = b + db;
						return point(c[0], c[1], c[2]);
					};
					if (side)
						s.faces.push_back({at(0, 0), at(1, 0), at(1, 1), at(0, 1)});
					else
						s.faces.push_back({at(0, 0), at(0, 1), at(1, 1), at(1, 0)});
				}
	}
	return s;
}

LVector bend(const LVector& p, const LVector& centre, double radius)
{
	const double x = p.x - centre.x, y = p.y - centre.y, a = x / radius;
	return {centre.x + (radius + y) * std::sin(a), centre.y + (radius + y) * std::cos(a) - radius, p.z};
}

LVector twistSquash(const LVector& p, const LVector& centre, double height, double angle, double squash)
{
	const double h = (p.y - centre.y) / height + 0.5;
	const double a = angle * h;
	const double x = p.x - centre.x, z = p.z - centre.z;
	const double widen = 1.0 / std::sqrt(squash);
	return {centre.x + (std::cos(a) * x + std::sin(a) * z) * widen, centre.y + (p.y - centre.y) * squash,
	        centre.z + (-std::sin(a) * x + std::cos(a) * z) * widen};
}

}  // namespace mvx
