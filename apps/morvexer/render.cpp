// Orthographic scan conversion in doubles: the meshes this shows are small
// (tens of thousands of triangles), so clarity wins over speed tricks.
#include "render.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <utility>

#include <png.h>

#include "vtnhost/platform.h"
#include "vtnhost/vec.h"

namespace mvx
{
namespace
{

constexpr std::array<uint8_t, 3> kBackground{246, 246, 242};
constexpr std::array<uint8_t, 3> kSeparator{178, 178, 172};
constexpr int kMaxSide = 16384;
constexpr int64_t kMaxPixels = int64_t(1) << 28;
constexpr double kMarginFraction = 0.07;
// Faces turned away from the light still read as shapes, not black holes.
constexpr double kAmbient = 0.28;
// How strongly a wire behind a solid shows through it.
constexpr double kHiddenWireWeight = 0.3;

using vtnhost::vec::add;
using vtnhost::vec::cross;
using vtnhost::vec::dot;
using vtnhost::vec::scaled;
using vtnhost::vec::sub;

bool isFinite(const LVector& v) { return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z); }

// Zero for a zero or non-finite vector. Divides by the largest component
// first so huge inputs do not overflow while squaring.
LVector normalized(const LVector& v)
{
	const double m = std::max({std::fabs(v.x), std::fabs(v.y), std::fabs(v.z)});
	if (!(m > 0.0) || !std::isfinite(m))
		return {0.0, 0.0, 0.0};
	const LVector s = scaled(v, 1.0 / m);
	return scaled(s, 1.0 / std::sqrt(dot(s, s)));
}

struct Camera
{
	LVector right, up, forward, toLight;
	double centerU = 0.0, centerV = 0.0;
	double scale = 1.0; // pixels per rescaled unit
	double halfWidth = 0.0, halfHeight = 0.0;
	double wireTolerance = 0.0; // depth slack so a wire lying on a surface counts as in front
	int exponent = 0;           // points are scaled by 2^-exponent first, exactly
};

struct ScreenPoint
{
	double x, y, depth;
	bool ok;
};

// Brings a point to about unit size by a power of two, which loses nothing,
// so sums over coordinates near the double range cannot overflow.
LVector rescaled(const LVector& p, int exponent)
{
	return {std::ldexp(p.x, -exponent), std::ldexp(p.y, -exponent), std::ldexp(p.z, -exponent)};
}

template <typename F>
void forEachMesh(const std::vector<Panel>& panels, F f)
{
	for (const Panel& panel : panels)
	{
		for (const RenderMesh& m : panel.solids)
			f(m);
		for (const RenderMesh& m : panel.wireframes)
			f(m);
	}
}

Camera makeCamera(const std::vector<Panel>& panels, int width, int height, const LVector& view_dir)
{
	Camera cam;
	cam.forward = normalized(view_dir);
	if (dot(cam.forward, cam.forward) == 0.0)
		cam.forward = normalized(kDefaultViewDir);
	cam.right = normalized(cross(cam.forward, {0.0, 1.0, 0.0}));
	if (dot(cam.right, cam.right) < 0.5) // looking straight up or down: +y has no say
		cam.right = {1.0, 0.0, 0.0};
	cam.up = cross(cam.right, cam.forward);
	cam.toLight = normalized(add(add(scaled(cam.forward, -1.0), scaled(cam.up, 0.55)), scaled(cam.right, -0.45)));
	cam.halfWidth = 0.5 * width;
	cam.halfHeight = 0.5 * height;

	double largest = 0.0;
	forEachMesh(panels, [&](const RenderMesh& mesh) {
		for (const LVector& p : mesh.points)
			if (isFinite(p))
				largest = std::max({largest, std::fabs(p.x), std::fabs(p.y), std::fabs(p.z)});
	});
	if (largest > 0.0)
		std::frexp(largest, &cam.exponent);

	const double inf = std::numeric_limits<double>::infinity();
	double loU = inf, hiU = -inf, loV = inf, hiV = -inf, loD = inf, hiD = -inf;
	forEachMesh(panels, [&](const RenderMesh& mesh) {
		for (const LVector& p : mesh.points)
		{
			const LVector v = rescaled(p, cam.exponent);
			if (!isFinite(v))
				continue;
			const double u = dot(v, cam.right), w = dot(v, cam.up), d = dot(v, cam.forward);
			loU = std::min(loU, u), hiU = std::max(hiU, u);
			loV = std::min(loV, w), hiV = std::max(hiV, w);
			loD = std::min(loD, d), hiD = std::max(hiD, d);
		}
	});
	if (!(loU <= hiU))
		return cam; // nothing finite to draw

	const double halfU = 0.5 * (hiU - loU), halfV = 0.5 * (hiV - loV);
	cam.centerU = 0.5 * (loU + hiU);
	cam.centerV = 0.5 * (loV + hiV);
	const double margin = std::ceil(kMarginFraction * std::min(width, height)) + 1.0;
	const double roomU = std::max(0.5, cam.halfWidth - margin), roomV = std::max(0.5, cam.halfHeight - margin);
	double scale = inf;
	if (halfU > 0.0 && std::isfinite(roomU / halfU))
		scale = std::min(scale, roomU / halfU);
	if (halfV > 0.0 && std::isfinite(roomV / halfV))
		scale = std::min(scale, roomV / halfV);
	if (!std::isfinite(scale) || !(scale > 0.0))
		scale = 1.0; // a single point, or all points in one spot
	cam.scale = scale;
	// A few pixels' worth of depth covers the slope of the faces beside an
	// edge; the depth-range term covers scenes that are flat on screen.
	cam.wireTolerance = std::max(3.0 / scale, 1e-6 * (hiD - loD));
	return cam;
}

std::vector<ScreenPoint> project(const Camera& cam, const std::vector<LVector>& points)
{
	std::vector<ScreenPoint> out(points.size());
	for (size_t i = 0; i < points.size(); ++i)
	{
		const LVector v = rescaled(points[i], cam.exponent);
		ScreenPoint& s = out[i];
		s.x = cam.halfWidth + (dot(v, cam.right) - cam.centerU) * cam.scale;
		s.y = cam.halfHeight - (dot(v, cam.up) - cam.centerV) * cam.scale;
		s.depth = dot(v, cam.forward);
		s.ok = isFinite(v) && std::isfinite(s.x) && std::isfinite(s.y) && std::isfinite(s.depth);
	}
	return out;
}

// One panel's pixels inside the whole image, plus its depth buffer.
struct Target
{
	std::vector<uint8_t>& image;
	int imageWidth;
	int x0, width, height;
	std::vector<double> depth;

	uint8_t* pixel(int x, int y) { return &image[(size_t(y) * size_t(imageWidth) + size_t(x0 + x)) * 3]; }
};

// Pixel range [lo, hi] of the pixel centres inside [a, b], clamped to [0, n).
bool pixelSpan(double a, double b, int n, int& lo, int& hi)
{
	const double l = std::max(0.0, std::ceil(a - 0.5)), h = std::min(double(n - 1), std::floor(b - 0.5));
	if (!(l <= h))
		return false;
	lo = int(l), hi = int(h);
	return true;
}

void fillTriangle(Target& t, const ScreenPoint& a, const ScreenPoint& b, const ScreenPoint& c,
	const std::array<uint8_t, 3>& rgb)
{
	const double area = (b.x - a.x) * (c.y - a.y) - (b.y - a.y) * (c.x - a.x);
	if (!(std::fabs(area) > 1e-12) || !std::isfinite(area))
		return;
	int x0, x1, y0, y1;
	if (!pixelSpan(std::min({a.x, b.x, c.x}), std::max({a.x, b.x, c.x}), t.width, x0, x1) ||
		!pixelSpan(std::min({a.y, b.y, c.y}), std::max({a.y, b.y, c.y}), t.height, y0, y1))
		return;
	const double sign = area > 0.0 ? 1.0 : -1.0, inv = 1.0 / std::fabs(area);
	for (int y = y0; y <= y1; ++y)
	{
		const double py = y + 0.5;
		for (int x = x0; x <= x1; ++x)
		{
			const double px = x + 0.5;
			const double wa = sign * ((c.x - b.x) * (py - b.y) - (c.y - b.y) * (px - b.x));
			const double wb = sign * ((a.x - c.x) * (py - c.y) - (a.y - c.y) * (px - c.x));
			const double wc = sign * ((b.x - a.x) * (py - a.y) - (b.y - a.y) * (px - a.x));
			if (wa < 0.0 || wb < 0.0 || wc < 0.0)
				continue;
			const double z = (wa * a.depth + wb * b.depth + wc * c.depth) * inv;
			double& zb = t.depth[size_t(y) * size_t(t.width) + size_t(x)];
			if (!(z < zb))
				continue;
			zb = z;
			uint8_t* p = t.pixel(x, y);
			p[0] = rgb[0], p[1] = rgb[1], p[2] = rgb[2];
		}
	}
}

// Newell's normal over the usable corners, taken relative to the first one
// and rescaled so far-out coordinates do not overflow.
LVector faceNormal(const std::vector<LVector>& points, const std::vector<Int32>& corners)
{
	const LVector base = points[size_t(corners[0])];
	double m = 0.0;
	for (Int32 k : corners)
	{
		const LVector d = sub(points[size_t(k)], base);
		m = std::max({m, std::fabs(d.x), std::fabs(d.y), std::fabs(d.z)});
	}
	if (!(m > 0.0) || !std::isfinite(m))
		return {0.0, 0.0, 0.0};
	LVector n{0.0, 0.0, 0.0};
	for (size_t i = 0; i < corners.size(); ++i)
	{
		const LVector p = scaled(sub(points[size_t(corners[i])], base), 1.0 / m);
		const LVector q = scaled(sub(points[size_t(corners[(i + 1) % corners.size()])], base), 1.0 / m);
		n = add(n, LVector{(p.y - q.y) * (p.z + q.z), (p.z - q.z) * (p.x + q.x), (p.x - q.x) * (p.y + q.y)});
	}
	return normalized(n);
}

bool usableFace(const std::vector<Int32>& face, const std::vector<ScreenPoint>& screen)
{
	if (face.size() < 3)
		return false;
	for (Int32 k : face)
		if (k < 0 || size_t(k) >= screen.size() || !screen[size_t(k)].ok)
			return false;
	return true;
}

void drawSolid(Target& t, const Camera& cam, const RenderMesh& mesh)
{
	const std::vector<ScreenPoint> screen = project(cam, mesh.points);
	for (const std::vector<Int32>& face : mesh.faces)
	{
		if (!usableFace(face, screen))
			continue;
		// Two-sided, so cages facing inward and open meshes still show.
		const double light = kAmbient + (1.0 - kAmbient) * std::fabs(dot(faceNormal(mesh.points, face), cam.toLight));
		const std::array<uint8_t, 3> rgb{uint8_t(std::lround(mesh.color[0] * light)),
			uint8_t(std::lround(mesh.color[1] * light)), uint8_t(std::lround(mesh.color[2] * light))};
		const ScreenPoint& first = screen[size_t(face[0])];
		for (size_t i = 1; i + 1 < face.size(); ++i)
			fillTriangle(t, first, screen[size_t(face[i])], screen[size_t(face[i + 1])], rgb);
	}
}

// Liang-Barsky: trims the segment to the panel so far-off ends cost nothing.
bool clipSegment(double& x0, double& y0, double& x1, double& y1, double w, double h)
{
	double t0 = 0.0, t1 = 1.0;
	const double dx = x1 - x0, dy = y1 - y0;
	const double p[4] = {-dx, dx, -dy, dy};
	const double q[4] = {x0, w - x0, y0, h - y0};
	for (int i = 0; i < 4; ++i)
	{
		if (p[i] == 0.0)
		{
			if (q[i] < 0.0)
				return false;
			continue;
		}
		const double r = q[i] / p[i];
		if (p[i] < 0.0)
			t0 = std::max(t0, r);
		else
			t1 = std::min(t1, r);
		if (t0 > t1)
			return false;
	}
	const double ax = x0, ay = y0;
	x0 = ax + t0 * dx, y0 = ay + t0 * dy;
	x1 = ax + t1 * dx, y1 = ay + t1 * dy;
	return std::isfinite(x0) && std::isfinite(y0) && std::isfinite(x1) && std::isfinite(y1);
}

void plotWire(Target& t, int x, int y, double depth, double tolerance, const std::array<uint8_t, 3>& rgb)
{
	if (x < 0 || y < 0 || x >= t.width || y >= t.height)
		return;
	uint8_t* p = t.pixel(x, y);
	const bool hidden = depth > t.depth[size_t(y) * size_t(t.width) + size_t(x)] + tolerance;
	const double w = hidden ? kHiddenWireWeight : 1.0;
	for (int i = 0; i < 3; ++i)
		p[i] = uint8_t(std::lround(w * rgb[size_t(i)] + (1.0 - w) * p[i]));
}

void drawSegment(Target& t, const Camera& cam, ScreenPoint a, ScreenPoint b, int thickness,
	const std::array<uint8_t, 3>& rgb)
{
	const double fullDx = b.x - a.x, fullDy = b.y - a.y;
	double x0 = a.x, y0 = a.y, x1 = b.x, y1 = b.y;
	if (!clipSegment(x0, y0, x1, y1, t.width, t.height))
		return;
	// Depth at the clipped ends, by the parameter along the unclipped segment.
	const bool alongX = std::fabs(fullDx) >= std::fabs(fullDy);
	auto depthAt = [&](double x, double y) {
		const double span = alongX ? fullDx : fullDy;
		const double s = span == 0.0 ? 0.0 : (alongX ? x - a.x : y - a.y) / span;
		return a.depth + s * (b.depth - a.depth);
	};
	const double d0 = depthAt(x0, y0), d1 = depthAt(x1, y1);
	const double dx = x1 - x0, dy = y1 - y0;
	const int steps = std::max(1, int(std::ceil(std::max(std::fabs(dx), std::fabs(dy)))));
	int lastX = -1, lastY = -1;
	for (int i = 0; i <= steps; ++i)
	{
		const double s = double(i) / steps;
		const double x = x0 + s * dx, y = y0 + s * dy, d = d0 + s * (d1 - d0);
		const int px = int(std::floor(x)), py = int(std::floor(y));
		if (px == lastX && py == lastY)
			continue; // blending the same pixel twice would darken hidden parts in spots
		lastX = px, lastY = py;
		plotWire(t, px, py, d, cam.wireTolerance, rgb);
		if (thickness > 1)
		{
			// The second pixel goes across the line, on the side nearer its centre.
			if (alongX)
				plotWire(t, px, y - py < 0.5 ? py - 1 : py + 1, d, cam.wireTolerance, rgb);
			else
				plotWire(t, x - px < 0.5 ? px - 1 : px + 1, py, d, cam.wireTolerance, rgb);
		}
	}
}

void drawWireframe(Target& t, const Camera& cam, const RenderMesh& mesh, int thickness)
{
	const std::vector<ScreenPoint> screen = project(cam, mesh.points);
	// Each edge once, though two faces share it, so hidden edges fade evenly.
	std::vector<std::pair<Int32, Int32>> edges;
	for (const std::vector<Int32>& face : mesh.faces)
	{
		for (size_t i = 0; i < face.size(); ++i)
		{
			const Int32 a = face[i], b = face[(i + 1) % face.size()];
			if (a == b || a < 0 || b < 0 || size_t(a) >= screen.size() || size_t(b) >= screen.size())
				continue;
			if (!screen[size_t(a)].ok || !screen[size_t(b)].ok)
				continue;
			edges.emplace_back(std::min(a, b), std::max(a, b));
		}
	}
	std::sort(edges.begin(), edges.end());
	edges.erase(std::unique(edges.begin(), edges.end()), edges.end());
	for (const auto& e : edges)
		drawSegment(t, cam, screen[size_t(e.first)], screen[size_t(e.second)], thickness, mesh.color);
}

bool sizeInRange(size_t panels, int width, int height)
{
	if (panels == 0 || width < 1 || height < 1 || width > kMaxSide || height > kMaxSide)
		return false;
	if (panels > size_t(kMaxSide))
		return false;
	return int64_t(panels) * width <= kMaxSide && int64_t(panels) * width * height <= kMaxPixels;
}

} // namespace

std::vector<uint8_t> renderImage(const std::vector<Panel>& panels, int panel_width, int panel_height, const LVector& view_dir)
{
	if (!sizeInRange(panels.size(), panel_width, panel_height))
		return {};
	const int imageWidth = int(panels.size()) * panel_width;
	std::vector<uint8_t> image(size_t(imageWidth) * size_t(panel_height) * 3);
	for (size_t i = 0; i < image.size(); i += 3)
		image[i] = kBackground[0], image[i + 1] = kBackground[1], image[i + 2] = kBackground[2];

	const Camera cam = makeCamera(panels, panel_width, panel_height, view_dir);
	const int thickness = std::min(panel_width, panel_height) >= 400 ? 2 : 1;
	for (size_t i = 0; i < panels.size(); ++i)
	{
		Target t{image, imageWidth, int(i) * panel_width, panel_width, panel_height,
			std::vector<double>(size_t(panel_width) * size_t(panel_height), std::numeric_limits<double>::infinity())};
		for (const RenderMesh& m : panels[i].solids)
			drawSolid(t, cam, m);
		for (const RenderMesh& m : panels[i].wireframes)
			drawWireframe(t, cam, m, thickness);
		if (i > 0)
		{
			for (int y = 0; y < panel_height; ++y)
			{
				uint8_t* p = t.pixel(0, y);
				p[0] = kSeparator[0], p[1] = kSeparator[1], p[2] = kSeparator[2];
			}
		}
	}
	return image;
}

std::vector<uint8_t> renderImage(const std::vector<Panel>& panels, int panel_width, int panel_height)
{
	return renderImage(panels, panel_width, panel_height, kDefaultViewDir);
}

bool renderPng(const std::vector<Panel>& panels, int panel_width, int panel_height, const LVector& view_dir,
	const std::string& path, std::string* error)
{
	auto fail = [&](const std::string& problem) {
		if (error)
			*error = path + ": " + problem;
		return false;
	};
	if (panels.empty())
		return fail("nothing to render: no panels");
	if (!sizeInRange(panels.size(), panel_width, panel_height))
		return fail("image size " + std::to_string(panels.size()) + " x " + std::to_string(panel_width) + " x " +
			std::to_string(panel_height) + " is out of range");
	const std::vector<uint8_t> image = renderImage(panels, panel_width, panel_height, view_dir);

	// Encoded in memory, then written beside the target and renamed over it.
	png_image png;
	std::memset(&png, 0, sizeof png);
	png.version = PNG_IMAGE_VERSION;
	png.width = png_uint_32(int(panels.size()) * panel_width);
	png.height = png_uint_32(panel_height);
	png.format = PNG_FORMAT_RGB;
	png_alloc_size_t size = 0;
	std::string bytes;
	bool encoded = png_image_write_to_memory(&png, nullptr, &size, 0, image.data(), 0, nullptr) != 0;
	if (encoded)
	{
		bytes.resize(size);
		encoded = png_image_write_to_memory(&png, &bytes[0], &size, 0, image.data(), 0, nullptr) != 0;
		bytes.resize(size);
	}
	const std::string pngMessage = png.message;
	png_image_free(&png);
	if (!encoded)
		return fail("PNG encoding failed: " + pngMessage);
	std::string problem;
	if (!vtnhost::platform::writeFileAtomic(path, bytes, &problem))
		return fail("cannot write: " + problem);
	return true;
}

bool renderPng(const std::vector<Panel>& panels, int panel_width, int panel_height, const std::string& path,
	std::string* error)
{
	return renderPng(panels, panel_width, panel_height, kDefaultViewDir, path, error);
}

} // namespace mvx
