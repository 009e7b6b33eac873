#include "cage_check.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <string>
#include <unordered_map>

#include "vtnhost/vec.h"

namespace mvx {
namespace {

using vtnhost::vec::cross;
using vtnhost::vec::dot;
using vtnhost::vec::sub;

// Relative to the cage's bounding-box diagonal, so the verdict does not depend
// on the units the cage was modelled in.
const double kAreaTolerance = 1e-10;
const double kVolumeTolerance = 1e-10;

// Faces, points and edges are named counting from 1, as the OBJ file counts them.
std::string n(size_t v) { return std::to_string(v + 1); }
std::string n(Int32 v) { return std::to_string(static_cast<long long>(v) + 1); }

struct EdgeUse
{
	int count = 0;
	size_t face[2] = {0, 0};
	bool lowToHigh[2] = {false, false};
};

uint64_t edgeKey(Int32 a, Int32 b)
{
	const uint32_t lo = static_cast<uint32_t>(std::min(a, b));
	const uint32_t hi = static_cast<uint32_t>(std::max(a, b));
	return (static_cast<uint64_t>(lo) << 32) | hi;
}

// One corner seen from its point: the corner after it and the one before it.
struct Wedge
{
	Int32 point, next, prev;
	bool operator<(const Wedge& o) const { return point != o.point ? point < o.point : next < o.next; }
};

}  // namespace

CageReport checkCage(const std::vector<LVector>& points, const std::vector<std::vector<Int32>>& faces)
{
	CageReport report;
	const auto fail = [&report](const std::string& problem) {
		report.ok = false;
		report.problem = problem;
		return report;
	};
	if (faces.empty())
		return fail("cage has no faces");

	LVector lo = {std::numeric_limits<double>::infinity(), std::numeric_limits<double>::infinity(), std::numeric_limits<double>::infinity()};
	LVector hi = {-lo.x, -lo.y, -lo.z};
	for (size_t f = 0; f < faces.size(); ++f)
	{
		for (const Int32 i : faces[f])
		{
			if (i < 0 || static_cast<size_t>(i) >= points.size())
				return fail("face " + n(f) + " has a corner out of range (vertex " + n(i) + ", " + std::to_string(points.size()) + " points)");
			const LVector& p = points[static_cast<size_t>(i)];
			if (!std::isfinite(p.x) || !std::isfinite(p.y) || !std::isfinite(p.z))
				return fail("point " + n(i) + " is not a finite position");
			lo = {std::min(lo.x, p.x), std::min(lo.y, p.y), std::min(lo.z, p.z)};
			hi = {std::max(hi.x, p.x), std::max(hi.y, p.y), std::max(hi.z, p.z)};
		}
	}
	const LVector centre = {(lo.x + hi.x) / 2, (lo.y + hi.y) / 2, (lo.z + hi.z) / 2};
	const LVector extent = sub(hi, lo);
	const double diagonal = std::sqrt(dot(extent, extent));
	// The deformer keeps face areas in single precision, which overflow once a
	// cage spans about 1e19; the sums below overflow later. Either way every
	// area would read as infinite or zero: say what is wrong, not "no area".
	const double kLargest = 1e15;
	if (!(diagonal <= kLargest))
	{
		char span[48] = "more than a double holds";
		if (std::isfinite(diagonal))
			std::snprintf(span, sizeof span, "%.3g", diagonal);
		return fail(std::string("the coordinates are too large: the cage spans ") + span + ", at most 1e15");
	}

	for (size_t f = 0; f < faces.size(); ++f)
	{
		const std::vector<Int32>& face = faces[f];
		if (face.size() < 3)
			return fail("face " + n(f) + " has only " + std::to_string(face.size()) + " corner" + (face.size() == 1 ? "" : "s"));
		std::vector<Int32> sorted = face;
		std::sort(sorted.begin(), sorted.end());
		const auto twice = std::adjacent_find(sorted.begin(), sorted.end());
		if (twice != sorted.end())
			return fail("face " + n(f) + " uses point " + n(*twice) + " twice");
		const LVector& p0 = points[static_cast<size_t>(face[0])];
		LVector sum = {0, 0, 0};
		for (size_t k = 1; k + 1 < face.size(); ++k)
		{
			const LVector c = cross(sub(points[static_cast<size_t>(face[k])], p0), sub(points[static_cast<size_t>(face[k + 1])], p0));
			sum = {sum.x + c.x, sum.y + c.y, sum.z + c.z};
		}
		const double area = 0.5 * std::sqrt(dot(sum, sum));
		if (!(area > kAreaTolerance * diagonal * diagonal))
			return fail("face " + n(f) + " has no area");
	}

	std::unordered_map<uint64_t, EdgeUse> edges;
	for (size_t f = 0; f < faces.size(); ++f)
	{
		const std::vector<Int32>& face = faces[f];
		for (size_t k = 0; k < face.size(); ++k)
		{
			const Int32 a = face[k];
			const Int32 b = face[(k + 1) % face.size()];
			EdgeUse& use = edges[edgeKey(a, b)];
			if (use.count < 2)
			{
				use.face[use.count] = f;
				use.lowToHigh[use.count] = a < b;
			}
			++use.count;
		}
	}
	// Walk the faces again so the problem reported is the first in face order,
	// not whichever the hash map yields first.
	for (size_t f = 0; f < faces.size(); ++f)
	{
		const std::vector<Int32>& face = faces[f];
		for (size_t k = 0; k < face.size(); ++k)
		{
			const Int32 a = face[k];
			const Int32 b = face[(k + 1) % face.size()];
			const EdgeUse& use = edges[edgeKey(a, b)];
			const std::string edge = "edge " + n(std::min(a, b)) + "-" + n(std::max(a, b));
			if (use.count == 1)
				return fail(edge + " is used by 1 face (open cage)");
			if (use.count > 2)
				return fail(edge + " is used by " + std::to_string(use.count) + " faces (non-manifold)");
			if (use.lowToHigh[0] == use.lowToHigh[1])
				return fail(edge + " runs the same way in faces " + n(use.face[0]) + " and " + n(use.face[1]) + " (inconsistent orientation)");
		}
	}

	// With every edge shared once each way, the corners around a point link up
	// into cycles; more than one means separate fans pinched at that point.
	std::vector<Wedge> wedges;
	for (const std::vector<Int32>& face : faces)
		for (size_t k = 0; k < face.size(); ++k)
			wedges.push_back({face[k], face[(k + 1) % face.size()], face[(k + face.size() - 1) % face.size()]});
	std::sort(wedges.begin(), wedges.end());
	for (size_t first = 0; first < wedges.size();)
	{
		size_t last = first;
		while (last < wedges.size() && wedges[last].point == wedges[first].point)
			++last;
		const Int32 start = wedges[first].next;
		Int32 at = start;
		size_t steps = 0;
		do
		{
			const Wedge key = {wedges[first].point, at, 0};
			const auto w = std::lower_bound(wedges.begin() + static_cast<std::ptrdiff_t>(first), wedges.begin() + static_cast<std::ptrdiff_t>(last), key);
			if (w == wedges.begin() + static_cast<std::ptrdiff_t>(last) || w->next != at)
				break;  // cannot happen once the edges passed; stops the walk safely
			at = w->prev;
			++steps;
		} while (at != start && steps <= last - first);
		if (steps != last - first)
			return fail("point " + n(wedges[first].point) + " joins separate fans of faces (non-manifold point)");
		first = last;
	}

	double volume = 0;
	for (const std::vector<Int32>& face : faces)
	{
		const LVector p0 = sub(points[static_cast<size_t>(face[0])], centre);
		for (size_t k = 1; k + 1 < face.size(); ++k)
			volume += dot(p0, cross(sub(points[static_cast<size_t>(face[k])], centre), sub(points[static_cast<size_t>(face[k + 1])], centre)));
	}
	report.volume = volume / 6;
	report.inward = report.volume < 0;
	if (!(std::fabs(report.volume) > kVolumeTolerance * diagonal * diagonal * diagonal))
		return fail("cage encloses no volume");
	return report;
}

void reverseFaces(std::vector<std::vector<Int32>>* faces)
{
	if (!faces)
		return;
	// The first corner stays first, so a quad keeps the diagonal it is split
	// along when the cage is triangulated: a turned cage binds like its twin.
	for (std::vector<Int32>& face : *faces)
		if (face.size() > 1)
			std::reverse(face.begin() + 1, face.end());
}

}  // namespace mvx
