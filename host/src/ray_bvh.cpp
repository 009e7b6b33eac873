#include "vtnhost/ray_bvh.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>
#include <utility>

#include "vtnhost/triangulate.h"

namespace vtnhost {
namespace {

constexpr double kRound = std::numeric_limits<double>::epsilon() * 0.5;
constexpr double kInfinity = std::numeric_limits<double>::infinity();
// Ize, "Robust BVH Ray Traversal" (JCGT 2013): widening the far distance of a slab by
// this much makes the box test conservative under rounding.
constexpr double kGamma3 = 3 * kRound / (1 - 3 * kRound);
constexpr double kWiden = 1 + 2 * kGamma3;
constexpr uint32_t kLeafSize = 4;
constexpr int kBins = 16;
// Surface area splits can be lopsided; past this depth the builder halves by count, so
// no branch gets deeper than kSahDepth + 30 levels and the traversal stack cannot overflow.
constexpr uint32_t kSahDepth = 64;
constexpr int kStackSize = 128;
constexpr size_t kMaxTriangles = size_t{1} << 31;

bool isFinite(const LVector& p)
{
	return std::isfinite(p.x) && std::isfinite(p.y) && std::isfinite(p.z);
}

// Zero area within rounding: the sine of the corner at p[0] is at the level of roundoff
// (all three corners are, when the points lie on a line).
bool isDegenerate(const double p[3][3])
{
	double e1[3], e2[3];
	double size = 0;
	for (int k = 0; k < 3; ++k)
	{
		e1[k] = p[1][k] - p[0][k];
		e2[k] = p[2][k] - p[0][k];
		size = std::max(size, std::max(std::fabs(e1[k]), std::fabs(e2[k])));
	}
	if (!(size > 0))
		return true;
	for (int k = 0; k < 3; ++k)
	{
		e1[k] /= size;  // scaled so that huge or tiny coordinates neither overflow nor underflow
		e2[k] /= size;
	}
	const double c[3] = {e1[1] * e2[2] - e1[2] * e2[1], e1[2] * e2[0] - e1[0] * e2[2], e1[0] * e2[1] - e1[1] * e2[0]};
	const double crossSq = c[0] * c[0] + c[1] * c[1] + c[2] * c[2];
	const double e1Sq = e1[0] * e1[0] + e1[1] * e1[1] + e1[2] * e1[2];
	const double e2Sq = e2[0] * e2[0] + e2[1] * e2[1] + e2[2] * e2[2];
	const double limit = 64 * kRound;
	return crossSq <= limit * limit * e1Sq * e2Sq;
}

struct Ray
{
	double o[3];
	double d[3];
	double inv[3];
	int kx, ky, kz;
	double sx, sy, sz;
	double originSize;
};

// a*b - c*d with its sign always right. Rounding is monotonic, so the difference of the
// rounded products can reach zero but never the wrong side of it; at zero the exact
// remainders of the products decide. Swapping the pairs negates the result exactly, which
// is what keeps a shared edge's test consistent between its two triangles.
double differenceOfProducts(double a, double b, double c, double d)
{
	const double ab = a * b;
	const double cd = c * d;
	const double difference = ab - cd;
	if (difference != 0)
		return difference;
	return std::fma(a, b, -ab) - std::fma(c, d, -cd);
}

// Distance to the triangle along the ray, negative on a miss.
double hitDistance(const double p[3][3], const Ray& ray)
{
	double a[3], b[3], c[3];
	for (int k = 0; k < 3; ++k)
	{
		a[k] = p[0][k] - ray.o[k];
		b[k] = p[1][k] - ray.o[k];
		c[k] = p[2][k] - ray.o[k];
	}
	// Sheared into the ray's frame: the ray runs along +z through (0, 0).
	const double ax = a[ray.kx] - ray.sx * a[ray.kz];
	const double ay = a[ray.ky] - ray.sy * a[ray.kz];
	const double bx = b[ray.kx] - ray.sx * b[ray.kz];
	const double by = b[ray.ky] - ray.sy * b[ray.kz];
	const double cx = c[ray.kx] - ray.sx * c[ray.kz];
	const double cy = c[ray.ky] - ray.sy * c[ray.kz];
	// Edge functions, each written in the same form for either direction of the edge.
	const double u = differenceOfProducts(cx, by, cy, bx);
	const double v = differenceOfProducts(ax, cy, ay, cx);
	const double w = differenceOfProducts(bx, ay, by, ax);
	if ((u < 0 || v < 0 || w < 0) && (u > 0 || v > 0 || w > 0))
		return -1;
	const double det = u + v + w;
	if (det == 0 || std::isnan(det))  // the ray runs along the triangle's plane
		return -1;
	const double az = ray.sz * a[ray.kz];
	const double bz = ray.sz * b[ray.kz];
	const double cz = ray.sz * c[ray.kz];
	const double scaled = u * az + v * bz + w * cz;
	const double t = scaled / det;
	if (t >= 0)
		return t <= std::numeric_limits<double>::max() ? t : -1;
	if (!(t < 0))
		return -1;
	// Just behind the origin. t is an average of the vertices' depths weighted by the edge
	// functions, so its rounding error stays within some ulps of their offsets from the origin;
	// the origin's own coordinates add the rounding they were computed with. Within that the
	// origin is on the triangle.
	const double offsets = std::fabs(a[0]) + std::fabs(a[1]) + std::fabs(a[2]) + std::fabs(b[0]) + std::fabs(b[1])
		+ std::fabs(b[2]) + std::fabs(c[0]) + std::fabs(c[1]) + std::fabs(c[2]);
	return -t <= kRound * std::fabs(ray.sz) * (64 * offsets + 8 * ray.originSize) ? 0.0 : -1;
}

// Distance at which the ray enters the box, if it does so before tMax.
bool enterBox(const double lo[3], const double hi[3], const Ray& ray, double tMax, double* entry)
{
	double t0 = 0;
	double t1 = tMax * kWiden;
	for (int k = 0; k < 3; ++k)
	{
		// A zero direction component gives infinities here, or NaN when the origin sits on
		// the slab's plane; NaN fails both comparisons below and leaves the range as it was.
		double tNear = (lo[k] - ray.o[k]) * ray.inv[k];
		double tFar = (hi[k] - ray.o[k]) * ray.inv[k];
		if (tNear > tFar)
			std::swap(tNear, tFar);
		tFar *= kWiden;
		if (tNear > t0)
			t0 = tNear;
		if (tFar < t1)
			t1 = tFar;
		if (t0 > t1)
			return false;
	}
	*entry = t0;
	return true;
}

}  // namespace

void RayBvh::build(const std::vector<LVector>& points, const std::vector<CPolygon>& polygons)
{
	triangles_.clear();
	nodes_.clear();
	skipped_ = 0;
	auto usable = [&](Int32 i) {
		return i >= 0 && static_cast<size_t>(i) < points.size() && isFinite(points[static_cast<size_t>(i)]);
	};
	auto add = [&](const CPolygon& polygon) {
		const LVector* corner[3] = {&points[static_cast<size_t>(polygon.a)], &points[static_cast<size_t>(polygon.b)],
			&points[static_cast<size_t>(polygon.c)]};
		Triangle triangle;
		for (int i = 0; i < 3; ++i)
		{
			triangle.p[i][0] = corner[i]->x;
			triangle.p[i][1] = corner[i]->y;
			triangle.p[i][2] = corner[i]->z;
		}
		if (!isDegenerate(triangle.p))
			triangles_.push_back(triangle);
	};
	for (const CPolygon& polygon : polygons)
	{
		if (!usable(polygon.a) || !usable(polygon.b) || !usable(polygon.c) || !usable(polygon.d)
			|| triangles_.size() + 2 > kMaxTriangles)
		{
			++skipped_;
			continue;
		}
		if (polygon.c == polygon.d)
		{
			add(polygon);
			continue;
		}
		CPolygon halves[2];
		splitQuad(points, polygon, halves);
		add(halves[0]);
		add(halves[1]);
	}
	const uint32_t count = static_cast<uint32_t>(triangles_.size());
	if (count == 0)
		return;

	std::vector<double> centre(size_t{3} * count);
	for (uint32_t i = 0; i < count; ++i)
	{
		for (int k = 0; k < 3; ++k)
			centre[size_t{3} * i + k] = (triangles_[i].p[0][k] + triangles_[i].p[1][k] + triangles_[i].p[2][k]) / 3;
	}
	std::vector<uint32_t> order(count);
	std::iota(order.begin(), order.end(), 0u);

	struct Task
	{
		uint32_t node, begin, end, depth;
	};
	struct Bin
	{
		uint32_t count = 0;
		double lo[3] = {kInfinity, kInfinity, kInfinity};
		double hi[3] = {-kInfinity, -kInfinity, -kInfinity};
	};
	auto halfArea = [](const double lo[3], const double hi[3]) {
		const double dx = hi[0] - lo[0], dy = hi[1] - lo[1], dz = hi[2] - lo[2];
		return dx * dy + dy * dz + dz * dx;
	};
	auto grow = [](double lo[3], double hi[3], const Triangle& triangle) {
		for (int i = 0; i < 3; ++i)
		{
			for (int k = 0; k < 3; ++k)
			{
				lo[k] = std::min(lo[k], triangle.p[i][k]);
				hi[k] = std::max(hi[k], triangle.p[i][k]);
			}
		}
	};

	nodes_.reserve(size_t{2} * count);
	nodes_.push_back(Node{});
	std::vector<Task> tasks{Task{0, 0, count, 0}};
	while (!tasks.empty())
	{
		const Task task = tasks.back();
		tasks.pop_back();
		Node node{};
		Bin all;
		double centreLo[3] = {kInfinity, kInfinity, kInfinity};
		double centreHi[3] = {-kInfinity, -kInfinity, -kInfinity};
		for (uint32_t i = task.begin; i < task.end; ++i)
		{
			grow(all.lo, all.hi, triangles_[order[i]]);
			for (int k = 0; k < 3; ++k)
			{
				centreLo[k] = std::min(centreLo[k], centre[size_t{3} * order[i] + k]);
				centreHi[k] = std::max(centreHi[k], centre[size_t{3} * order[i] + k]);
			}
		}
		// Padded so that a ray starting within rounding of a triangle still enters its box.
		double size = 0;
		for (int k = 0; k < 3; ++k)
			size = std::max(size, std::max(std::fabs(all.lo[k]), std::fabs(all.hi[k])) + (all.hi[k] - all.lo[k]));
		const double pad = 256 * kRound * size;
		for (int k = 0; k < 3; ++k)
		{
			node.lo[k] = all.lo[k] - pad;
			node.hi[k] = all.hi[k] + pad;
		}
		const uint32_t n = task.end - task.begin;
		if (n <= kLeafSize)
		{
			node.index = task.begin;
			node.count = n;
			nodes_[task.node] = node;
			continue;
		}

		int axis = 0;
		for (int k = 1; k < 3; ++k)
		{
			if (centreHi[k] - centreLo[k] > centreHi[axis] - centreLo[axis])
				axis = k;
		}
		const double extent = centreHi[axis] - centreLo[axis];
		auto binOf = [&](uint32_t triangle) {
			const double f = (centre[size_t{3} * triangle + axis] - centreLo[axis]) * (kBins / extent);
			return f >= kBins ? kBins - 1 : f > 0 ? static_cast<int>(f) : 0;
		};
		uint32_t mid = task.begin;
		if (task.depth < kSahDepth && extent > 0)
		{
			// Binned surface area heuristic on the centroids.
			Bin bins[kBins];
			for (uint32_t i = task.begin; i < task.end; ++i)
			{
				Bin& bin = bins[binOf(order[i])];
				++bin.count;
				grow(bin.lo, bin.hi, triangles_[order[i]]);
			}
			double rightCost[kBins] = {};
			Bin right;
			for (int b = kBins - 1; b > 0; --b)
			{
				right.count += bins[b].count;
				for (int k = 0; k < 3; ++k)
				{
					right.lo[k] = std::min(right.lo[k], bins[b].lo[k]);
					right.hi[k] = std::max(right.hi[k], bins[b].hi[k]);
				}
				rightCost[b] = right.count == 0 ? kInfinity : right.count * halfArea(right.lo, right.hi);
			}
			Bin left;
			double bestCost = kInfinity;
			int bestBin = -1;
			for (int b = 0; b + 1 < kBins; ++b)
			{
				left.count += bins[b].count;
				for (int k = 0; k < 3; ++k)
				{
					left.lo[k] = std::min(left.lo[k], bins[b].lo[k]);
					left.hi[k] = std::max(left.hi[k], bins[b].hi[k]);
				}
				if (left.count == 0)
					continue;
				const double cost = left.count * halfArea(left.lo, left.hi) + rightCost[b + 1];
				if (cost < bestCost)
				{
					bestCost = cost;
					bestBin = b;
				}
			}
			if (bestBin >= 0)
			{
				auto split = std::partition(order.begin() + task.begin, order.begin() + task.end,
					[&](uint32_t triangle) { return binOf(triangle) <= bestBin; });
				mid = static_cast<uint32_t>(split - order.begin());
			}
		}
		if (mid == task.begin || mid == task.end)
		{
			// All centroids together, or no useful split: halve by count.
			mid = task.begin + n / 2;
			std::nth_element(order.begin() + task.begin, order.begin() + mid, order.begin() + task.end,
				[&](uint32_t x, uint32_t y) { return centre[size_t{3} * x + axis] < centre[size_t{3} * y + axis]; });
		}
		node.index = static_cast<uint32_t>(nodes_.size());
		node.count = 0;
		nodes_[task.node] = node;
		nodes_.push_back(Node{});
		nodes_.push_back(Node{});
		tasks.push_back(Task{node.index, task.begin, mid, task.depth + 1});
		tasks.push_back(Task{node.index + 1, mid, task.end, task.depth + 1});
	}

	std::vector<Triangle> sorted(count);
	for (uint32_t i = 0; i < count; ++i)
		sorted[i] = triangles_[order[i]];
	triangles_.swap(sorted);
}

bool RayBvh::intersect(const LVector& origin, const LVector& direction, double length) const
{
	return cast(origin, direction, length, true) >= 0;
}

double RayBvh::nearest(const LVector& origin, const LVector& direction, double length) const
{
	return cast(origin, direction, length, false);
}

double RayBvh::cast(const LVector& origin, const LVector& direction, double length, bool anyHit) const
{
	if (nodes_.empty() || !isFinite(origin) || !isFinite(direction) || !(length >= 0))
		return -1;
	// Scaled before normalising so that neither tiny nor huge directions underflow or overflow.
	const double largest = std::max(std::fabs(direction.x), std::max(std::fabs(direction.y), std::fabs(direction.z)));
	if (largest == 0)
		return -1;
	Ray ray;
	ray.o[0] = origin.x;
	ray.o[1] = origin.y;
	ray.o[2] = origin.z;
	ray.d[0] = direction.x / largest;
	ray.d[1] = direction.y / largest;
	ray.d[2] = direction.z / largest;
	const double norm = std::sqrt(ray.d[0] * ray.d[0] + ray.d[1] * ray.d[1] + ray.d[2] * ray.d[2]);
	for (int k = 0; k < 3; ++k)
	{
		ray.d[k] /= norm;
		ray.inv[k] = 1 / ray.d[k];
	}
	ray.kz = 0;
	for (int k = 1; k < 3; ++k)
	{
		if (std::fabs(ray.d[k]) > std::fabs(ray.d[ray.kz]))
			ray.kz = k;
	}
	ray.kx = (ray.kz + 1) % 3;
	ray.ky = (ray.kx + 1) % 3;
	ray.sx = ray.d[ray.kx] / ray.d[ray.kz];
	ray.sy = ray.d[ray.ky] / ray.d[ray.kz];
	ray.sz = 1 / ray.d[ray.kz];
	ray.originSize = std::fabs(origin.x) + std::fabs(origin.y) + std::fabs(origin.z);

	struct Pending
	{
		uint32_t node;
		double entry;
	};
	// Each step pops one node and pushes at most its two children, so the stack never holds
	// more than the tree's depth plus one, which the builder keeps below kStackSize.
	Pending stack[kStackSize];
	int top = 0;
	double best = length;
	bool found = false;
	double entry = 0;
	if (!enterBox(nodes_[0].lo, nodes_[0].hi, ray, best, &entry))
		return -1;
	stack[top++] = Pending{0, entry};
	while (top > 0)
	{
		const Pending pending = stack[--top];
		if (pending.entry > best * kWiden)
			continue;
		const Node& node = nodes_[pending.node];
		if (node.count > 0)
		{
			for (uint32_t i = node.index; i < node.index + node.count; ++i)
			{
				const double t = hitDistance(triangles_[i].p, ray);
				if (t >= 0 && t <= best)
				{
					best = t;
					found = true;
					if (anyHit)
						return t;
				}
			}
			continue;
		}
		double entryA = 0, entryB = 0;
		const bool hitA = enterBox(nodes_[node.index].lo, nodes_[node.index].hi, ray, best, &entryA);
		const bool hitB = enterBox(nodes_[node.index + 1].lo, nodes_[node.index + 1].hi, ray, best, &entryB);
		if (hitA && hitB)
		{
			// The nearer child on top, so that its hits can cut the farther one short.
			const bool aFirst = entryA <= entryB;
			stack[top++] = aFirst ? Pending{node.index + 1, entryB} : Pending{node.index, entryA};
			stack[top++] = aFirst ? Pending{node.index, entryA} : Pending{node.index + 1, entryB};
		}
		else if (hitA)
			stack[top++] = Pending{node.index, entryA};
		else if (hitB)
			stack[top++] = Pending{node.index + 1, entryB};
	}
	return found ? best : -1;
}

}  // namespace vtnhost
