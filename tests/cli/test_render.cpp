// The picture renderer: what lands where on screen, what hides what, that
// every panel shares one camera, and that the PNG on disk is the image in
// memory (read back through libpng) or nothing at all.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <set>
#include <string>
#include <vector>

#include <dirent.h>
#include <png.h>
#include <sys/stat.h>
#include <unistd.h>

#include "render.h"

using namespace mvx;

namespace {

using Rgb = std::array<uint8_t, 3>;

const int kW = 200;
const int kH = 150;
const LVector kAlongMinusZ = {0.0, 0.0, -1.0}; // nearer means larger z
const Rgb kOrange = {200, 120, 40};
const Rgb kRed = {220, 30, 30};
const Rgb kBlue = {30, 60, 220};
const Rgb kWire = {10, 130, 20};

RenderMesh cube(const LVector& lo, const LVector& hi, const Rgb& color)
{
	RenderMesh m;
	for (int i = 0; i < 8; ++i)
		m.points.push_back({i & 1 ? hi.x : lo.x, i & 2 ? hi.y : lo.y, i & 4 ? hi.z : lo.z});
	m.faces = {{0, 2, 3, 1}, {4, 5, 7, 6}, {0, 1, 5, 4}, {2, 6, 7, 3}, {0, 4, 6, 2}, {1, 3, 7, 5}};
	m.color = color;
	return m;
}

RenderMesh unitCube(const Rgb& color) { return cube({-0.5, -0.5, -0.5}, {0.5, 0.5, 0.5}, color); }

// A square in the plane z, facing +z.
RenderMesh quad(double x0, double y0, double x1, double y1, double z, const Rgb& color)
{
	RenderMesh m;
	m.points = {{x0, y0, z}, {x1, y0, z}, {x1, y1, z}, {x0, y1, z}};
	m.faces = {{0, 1, 2, 3}};
	m.color = color;
	return m;
}

struct Image
{
	std::vector<uint8_t> rgb;
	int width, height;

	Rgb at(int x, int y) const
	{
		const size_t i = (size_t(y) * size_t(width) + size_t(x)) * 3;
		return {rgb[i], rgb[i + 1], rgb[i + 2]};
	}
};

Image render(const std::vector<Panel>& panels, const LVector& view = kDefaultViewDir, int w = kW, int h = kH)
{
	return {renderImage(panels, w, h, view), int(panels.size()) * w, h};
}

Rgb background()
{
	static const Rgb bg = render({Panel{}}).at(0, 0);
	return bg;
}

// Flat Lambert shading only scales the colour, so a lit pixel keeps its hue.
bool isShadeOf(const Rgb& p, const Rgb& c)
{
	const double k = double(p[0]) / c[0];
	if (!(k > 0.1 && k <= 1.0 + 1e-9))
		return false;
	for (int i = 0; i < 3; ++i)
		if (std::fabs(p[size_t(i)] - k * c[size_t(i)]) > 1.01)
			return false;
	return true;
}

int countPixels(const Image& img, int x0, int x1, bool (*pred)(const Rgb&, const Rgb&), const Rgb& ref)
{
	int n = 0;
	for (int y = 0; y < img.height; ++y)
		for (int x = x0; x < x1; ++x)
			n += pred(img.at(x, y), ref) ? 1 : 0;
	return n;
}

bool same(const Rgb& a, const Rgb& b) { return a == b; }
bool differs(const Rgb& a, const Rgb& b) { return a != b; }

// Mean column of the pixels in [x0, x1) that are not the background.
double meanForegroundColumn(const Image& img, int x0, int x1)
{
	const Rgb bg = background();
	double sum = 0.0;
	int n = 0;
	for (int y = 0; y < img.height; ++y)
		for (int x = x0; x < x1; ++x)
			if (img.at(x, y) != bg)
				sum += x - x0, ++n;
	return n ? sum / n : -1.0;
}

std::string makeTempDir()
{
	std::string dir = ::testing::TempDir() + "render_XXXXXX";
	if (!mkdtemp(&dir[0]))
		ADD_FAILURE() << "mkdtemp failed";
	return dir;
}

std::vector<std::string> listDir(const std::string& dir)
{
	std::vector<std::string> names;
	if (DIR* d = opendir(dir.c_str()))
	{
		while (dirent* e = readdir(d))
			if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0)
				names.push_back(e->d_name);
		closedir(d);
	}
	return names;
}

bool exists(const std::string& path)
{
	struct stat st;
	return stat(path.c_str(), &st) == 0;
}

struct Decoded
{
	bool ok = false;
	unsigned width = 0, height = 0;
	std::vector<uint8_t> rgb;
};

Decoded readPng(const std::string& path)
{
	Decoded out;
	png_image img;
	std::memset(&img, 0, sizeof img);
	img.version = PNG_IMAGE_VERSION;
	if (!png_image_begin_read_from_file(&img, path.c_str()))
		return out;
	// The file must already be plain 8-bit RGB; asking libpng to convert would hide that.
	const bool rgb8 = img.format == PNG_FORMAT_RGB;
	img.format = PNG_FORMAT_RGB;
	out.rgb.resize(PNG_IMAGE_SIZE(img));
	out.ok = png_image_finish_read(&img, nullptr, out.rgb.data(), 0, nullptr) != 0 && rgb8;
	out.width = img.width;
	out.height = img.height;
	png_image_free(&img);
	return out;
}

TEST(RenderSolids, UnitCubeFillsTheCentreAndLeavesTheCornersBackground)
{
	Panel p;
	p.solids = {unitCube(kOrange)};
	const Image img = render({p});
	ASSERT_EQ(img.rgb.size(), size_t(kW) * kH * 3);
	const Rgb bg = background();
	EXPECT_TRUE(isShadeOf(img.at(kW / 2, kH / 2), kOrange));
	EXPECT_EQ(img.at(0, 0), bg);
	EXPECT_EQ(img.at(kW - 1, 0), bg);
	EXPECT_EQ(img.at(0, kH - 1), bg);
	EXPECT_EQ(img.at(kW - 1, kH - 1), bg);

	// The default view sees three faces, each at its own angle to the light.
	std::set<Rgb> shades;
	for (int y = 0; y < kH; ++y)
		for (int x = 0; x < kW; ++x)
			if (img.at(x, y) != bg)
			{
				EXPECT_TRUE(isShadeOf(img.at(x, y), kOrange)) << x << "," << y;
				shades.insert(img.at(x, y));
			}
	EXPECT_EQ(shades.size(), 3u);
}

TEST(RenderSolids, FacesShowFromBothSidesWithTheSameShade)
{
	RenderMesh front = quad(-1, -1, 1, 1, 0, kOrange);
	RenderMesh back = front;
	back.faces = {{3, 2, 1, 0}};
	for (const LVector& view : {kAlongMinusZ, LVector{0.3, -0.2, -1.0}})
	{
		Panel a, b;
		a.solids = {front};
		b.solids = {back};
		const Image ia = render({a}, view), ib = render({b}, view);
		EXPECT_TRUE(isShadeOf(ia.at(kW / 2, kH / 2), kOrange));
		EXPECT_EQ(ia.rgb, ib.rgb);
	}
}

TEST(RenderSolids, NearerOfTwoOverlappingQuadsWinsInEitherDrawingOrder)
{
	// Red at z = 0 sits in front of blue at z = -1 when looking along -z.
	const RenderMesh red = quad(-1, -1, 0.5, 0.5, 0.0, kRed);
	const RenderMesh blue = quad(-0.5, -0.5, 1, 1, -1.0, kBlue);
	Panel redFirst, blueFirst;
	redFirst.solids = {red, blue};
	blueFirst.solids = {blue, red};
	const int cx = kW / 2, cy = kH / 2; // inside the overlap
	for (const Panel& p : {redFirst, blueFirst})
	{
		EXPECT_TRUE(isShadeOf(render({p}, kAlongMinusZ).at(cx, cy), kRed));
		// From the other side blue is the nearer one.
		EXPECT_TRUE(isShadeOf(render({p}, {0.0, 0.0, 1.0}).at(cx, cy), kBlue));
	}
	// Outside the overlap each quad shows its own colour.
	EXPECT_TRUE(isShadeOf(render({redFirst}, kAlongMinusZ).at(kW / 4, kH - kH / 4), kRed));
	EXPECT_TRUE(isShadeOf(render({redFirst}, kAlongMinusZ).at(kW - kW / 4, kH / 4), kBlue));
	EXPECT_EQ(render({redFirst}, kAlongMinusZ).rgb, render({blueFirst}, kAlongMinusZ).rgb);
}

TEST(RenderWireframes, EdgesAreDrawnAndTheInsideStaysEmpty)
{
	Panel p;
	p.wireframes = {quad(-1, -1, 1, 1, 0, kWire)};
	const Image img = render({p}, kAlongMinusZ);
	const Rgb bg = background();
	EXPECT_EQ(img.at(kW / 2, kH / 2), bg);

	// Down the middle column: background, then the top edge, then background again.
	int firstWire = -1;
	for (int y = 0; y < kH && firstWire < 0; ++y)
		if (img.at(kW / 2, y) != bg)
			firstWire = y;
	ASSERT_GE(firstWire, 1);
	EXPECT_LT(firstWire, kH / 4);
	EXPECT_EQ(img.at(kW / 2, firstWire), kWire);
	// ...and the same along the middle row from the left.
	int leftWire = -1;
	for (int x = 0; x < kW && leftWire < 0; ++x)
		if (img.at(x, kH / 2) != bg)
			leftWire = x;
	ASSERT_GE(leftWire, 1);
	EXPECT_LT(leftWire, kW / 2);
	EXPECT_EQ(img.at(leftWire, kH / 2), kWire);

	// All four sides, each about as long as the panel is high (a square fits by height).
	const int wirePixels = countPixels(img, 0, kW, same, kWire);
	EXPECT_GT(wirePixels, 4 * kH * 3 / 4);
	EXPECT_LT(wirePixels, 4 * kH * 2 * 2);
}

TEST(RenderWireframes, WireBehindASolidIsFadedAndInFrontIsFull)
{
	// The wire rectangle sticks out of the solid at both sides.
	const RenderMesh solid = quad(-1, -1, 1, 1, 0.0, {200, 200, 200});
	auto scene = [&](double wireZ) {
		Panel p;
		p.solids = {solid};
		p.wireframes = {quad(-1.5, -0.5, 1.5, 0.5, wireZ, kWire)};
		return render({p}, kAlongMinusZ);
	};
	const Image front = scene(0.5), behind = scene(-0.5), onSurface = scene(0.0);
	const int inFront = countPixels(front, 0, kW, same, kWire);
	const int shownBehind = countPixels(behind, 0, kW, same, kWire);
	EXPECT_GT(shownBehind, 0);               // where it sticks out
	EXPECT_LT(shownBehind, inFront * 3 / 4); // not across the solid
	EXPECT_EQ(countPixels(onSurface, 0, kW, same, kWire), inFront);

	// Across the solid the hidden part still shows, between the two colours.
	const Rgb solidPixel = behind.at(kW / 2, kH / 2);
	int faded = 0;
	for (int y = 0; y < kH; ++y)
	{
		const Rgb p = behind.at(kW / 2, y);
		if (p != solidPixel && p != kWire && p != background())
		{
			++faded;
			EXPECT_LT(p[0], solidPixel[0]);
			EXPECT_GT(p[0], kWire[0]);
		}
	}
	EXPECT_GT(faded, 0);
}

TEST(RenderWireframes, WiresOnTheSurfaceShowFullAndSharedEdgesFadeEvenly)
{
	// A V opening toward the camera: its crease lies on both faces and is the
	// farthest thing there, yet nothing covers it.
	RenderMesh vee;
	vee.points = {{-1, -1, 1}, {0, -1, 0}, {1, -1, 1}, {-1, 1, 1}, {0, 1, 0}, {1, 1, 1}};
	vee.faces = {{0, 1, 4, 3}, {1, 2, 5, 4}};
	vee.color = {200, 200, 200};
	RenderMesh crease = vee;
	crease.faces = {{1, 4}};
	crease.color = kWire;
	Panel p;
	p.solids = {vee};
	p.wireframes = {crease};
	const Image img = render({p}, kAlongMinusZ);
	int full = 0, other = 0;
	for (int y = 0; y < kH; ++y)
		for (int x = kW / 2 - 2; x <= kW / 2 + 2; ++x)
		{
			const Rgb px = img.at(x, y);
			full += px == kWire ? 1 : 0;
			other += px != kWire && px != background() && !isShadeOf(px, vee.color) ? 1 : 0;
		}
	EXPECT_GT(full, kH / 2);
	EXPECT_EQ(other, 0);

	// Two hidden quads sharing their middle edge: that edge fades no deeper
	// than the outer ones, so it is drawn once.
	Panel hidden;
	hidden.solids = {quad(-1, -1, 1, 1, 0.0, {200, 200, 200})};
	RenderMesh pair = quad(-1.5, -0.5, 0.0, 0.5, -0.5, kWire);
	pair.points.push_back({1.5, -0.5, -0.5});
	pair.points.push_back({1.5, 0.5, -0.5});
	pair.faces.push_back({1, 4, 5, 2});
	hidden.wireframes = {pair};
	const Image h = render({hidden}, kAlongMinusZ);
	const Rgb solidPixel = h.at(kW / 4, kH / 2);
	std::set<Rgb> sharedEdge, outerEdge;
	for (int x = kW / 4; x < kW - kW / 4; ++x) // across the solid the middle row crosses only the shared edge
		if (h.at(x, kH / 2) != solidPixel && h.at(x, kH / 2) != background())
			sharedEdge.insert(h.at(x, kH / 2));
	for (int y = 0; y < kH; ++y) // this column crosses only the outer edges
		if (h.at(kW / 4, y) != solidPixel && h.at(kW / 4, y) != background())
			outerEdge.insert(h.at(kW / 4, y));
	EXPECT_EQ(sharedEdge.size(), 1u);
	EXPECT_EQ(sharedEdge, outerEdge);
}

TEST(RenderPanels, PanelsShareOneCamera)
{
	Panel rest;
	rest.solids = {unitCube(kOrange)};
	Panel moved = rest;
	for (LVector& v : moved.solids[0].points)
		v.x += 1.5;

	const Image twin = render({rest, rest}, kAlongMinusZ);
	ASSERT_EQ(twin.width, 2 * kW);
	const Rgb bg = background();
	// Identical content gives identical pixels, bar the separator column.
	for (int y = 0; y < kH; ++y)
		for (int x = 1; x < kW; ++x)
			ASSERT_EQ(twin.at(x, y), twin.at(kW + x, y)) << x << "," << y;
	EXPECT_NE(twin.at(kW, kH / 2), bg);
	EXPECT_NE(twin.at(kW, kH / 2), twin.at(kW + 1, kH / 2));

	const Image pair = render({rest, moved}, kAlongMinusZ);
	const double left = meanForegroundColumn(pair, 1, kW), right = meanForegroundColumn(pair, kW + 1, 2 * kW);
	ASSERT_GT(left, 0.0);
	ASSERT_GT(right, 0.0);
	// Framed together, the moved cube sits further right by 1.5 cube widths.
	const double cubeWidth = std::sqrt(double(countPixels(pair, 1, kW, differs, bg)));
	EXPECT_NEAR(right - left, 1.5 * cubeWidth, 2.0);
	// Alone, each would have been centred.
	const Image alone = render({moved}, kAlongMinusZ);
	EXPECT_NEAR(meanForegroundColumn(alone, 0, kW), (kW - 1) / 2.0, 1.0);
	EXPECT_LT(left, (kW - 1) / 2.0 - 10);
}

TEST(RenderRobustness, UnusableInputDrawsNothingAndSparesTheRest)
{
	Panel base;
	base.solids = {quad(-1, -1, 1, 1, 0, kOrange)};
	base.wireframes = {quad(-1, -1, 1, 1, 0.5, kWire)};
	const Image expected = render({base}, kAlongMinusZ);

	// Faces that cannot be drawn: too few corners, indices out of range,
	// repeated or collinear corners. Points beyond them stay inside the frame.
	Panel junk = base;
	for (RenderMesh* m : {&junk.solids[0], &junk.wireframes[0]})
	{
		m->points.push_back({0.0, 0.0, 0.0});
		m->points.push_back({0.5, 0.5, 0.0});
		m->faces.push_back({});
		m->faces.push_back({0});
		m->faces.push_back({0, 1, 99});
		m->faces.push_back({-1, 0, 1});
		m->faces.push_back({std::numeric_limits<Int32>::max(), 0, 1});
	}
	junk.solids[0].faces.push_back({0, 0, 2});
	junk.solids[0].faces.push_back({0, 4, 5});
	EXPECT_EQ(render({junk}, kAlongMinusZ).rgb, expected.rgb);

	// A point that is not finite is left out of the frame, and so is every
	// face and edge using it; its other corners still count for the frame.
	const double nan = std::numeric_limits<double>::quiet_NaN(), inf = std::numeric_limits<double>::infinity();
	for (double bad : {nan, inf, -inf})
	{
		Panel withBad = base, withoutFace = base;
		for (Panel* p : {&withBad, &withoutFace})
		{
			p->solids[0].points.push_back({0.0, 0.0, 0.0});
			p->solids[0].points.push_back({0.5, 0.0, 0.0});
		}
		withBad.solids[0].points.push_back({bad, 0.0, 0.0});
		withBad.solids[0].points.push_back({0.2, bad, 1e6});
		withBad.solids[0].faces.push_back({4, 5, 6});
		withBad.solids[0].faces.push_back({4, 7, 5});
		RenderMesh wire = withBad.solids[0];
		wire.faces = {{4, 6, 7}}; // every edge has a bad end
		withBad.wireframes.push_back(wire);
		EXPECT_EQ(render({withBad}, kAlongMinusZ).rgb, render({withoutFace}, kAlongMinusZ).rgb) << bad;
	}
}

TEST(RenderRobustness, ScaleAndViewDirectionEdgeCases)
{
	Panel unit;
	unit.solids = {unitCube(kOrange)};
	const Image reference = render({unit});
	const Rgb bg = background();
	const int area = countPixels(reference, 0, kW, differs, bg);
	ASSERT_GT(area, kW * kH / 8);

	// Far from the origin and enormous: the framing follows, so it looks the same.
	for (double s : {1e-150, 1e6, 1e150, 1e300})
	{
		Panel big;
		big.solids = {cube({s * 3.0, s * -0.5, s * -0.5}, {s * 4.0, s * 0.5, s * 0.5}, kOrange)};
		const Image img = render({big});
		int diff = 0;
		for (size_t i = 0; i < img.rgb.size(); i += 3)
			diff += img.rgb[i] != reference.rgb[i] ? 1 : 0;
		EXPECT_LT(diff, area / 50) << s;
	}
	// Points at both ends of the double range must not overflow the frame.
	Panel extreme;
	extreme.solids = {cube({-1.7e308, -1.7e308, -1.7e308}, {1.7e308, 1.7e308, 1.7e308}, kOrange)};
	const Image ext = render({extreme});
	EXPECT_TRUE(isShadeOf(ext.at(kW / 2, kH / 2), kOrange));
	EXPECT_EQ(ext.at(0, 0), bg);

	// No usable direction falls back to the default one; straight down still sees the top.
	for (const LVector& v : {LVector{0, 0, 0}, LVector{std::nan(""), 1, 0}})
		EXPECT_EQ(render({unit}, v).rgb, reference.rgb);
	for (const LVector& down : {LVector{0, -1, 0}, LVector{0, 1, 0}, LVector{0, -1e-300, 0}})
		EXPECT_TRUE(isShadeOf(render({unit}, down).at(kW / 2, kH / 2), kOrange));

	// Nothing to draw.
	EXPECT_EQ(countPixels(render({Panel{}, Panel{}}), 1, 2 * kW, differs, bg), kH); // the separator only
	EXPECT_TRUE(renderImage({}, kW, kH).empty());
	EXPECT_TRUE(renderImage({unit}, 0, kH).empty());
	EXPECT_TRUE(renderImage({unit}, kW, -1).empty());
	EXPECT_TRUE(renderImage({unit}, 20000, 10).empty());
	const Image tiny = render({unit}, kDefaultViewDir, 1, 1);
	EXPECT_EQ(tiny.rgb.size(), 3u);
}

TEST(RenderPng, WrittenFileDecodesToTheImageInMemory)
{
	const std::string dir = makeTempDir();
	const std::string path = dir + "/out.png";
	Panel rest, moved;
	rest.solids = {unitCube(kOrange)};
	rest.wireframes = {cube({-0.7, -0.7, -0.7}, {0.7, 0.7, 0.7}, kWire)};
	moved = rest;
	for (LVector& v : moved.solids[0].points)
		v.y += 0.4;

	const int w = 120, h = 90;
	std::string error;
	ASSERT_TRUE(renderPng({rest, moved}, w, h, path, &error)) << error;
	Decoded d = readPng(path);
	ASSERT_TRUE(d.ok);
	EXPECT_EQ(d.width, unsigned(2 * w));
	EXPECT_EQ(d.height, unsigned(h));
	EXPECT_EQ(d.rgb, renderImage({rest, moved}, w, h, kDefaultViewDir));

	// Writing again replaces the file whole and leaves nothing else behind.
	ASSERT_TRUE(renderPng({moved}, h, w, kAlongMinusZ, path, &error)) << error;
	d = readPng(path);
	ASSERT_TRUE(d.ok);
	EXPECT_EQ(d.width, unsigned(h));
	EXPECT_EQ(d.height, unsigned(w));
	EXPECT_EQ(d.rgb, renderImage({moved}, h, w, kAlongMinusZ));
	EXPECT_EQ(listDir(dir), std::vector<std::string>{"out.png"});

	unlink(path.c_str());
	rmdir(dir.c_str());
}

TEST(RenderPng, FailureNamesThePathAndLeavesNoFile)
{
	const std::string dir = makeTempDir();
	Panel p;
	p.solids = {unitCube(kOrange)};
	std::string error;

	const std::string missing = dir + "/no/such/folder/out.png";
	EXPECT_FALSE(renderPng({p}, kW, kH, missing, &error));
	EXPECT_EQ(error.rfind(missing + ": ", 0), 0u) << error;

	// A folder in the way: the temporary file is written, then must go again.
	const std::string folder = dir + "/taken.png";
	ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
	error.clear();
	EXPECT_FALSE(renderPng({p}, kW, kH, folder, &error));
	EXPECT_EQ(error.rfind(folder + ": ", 0), 0u) << error;

	const std::string nothing = dir + "/empty.png";
	error.clear();
	EXPECT_FALSE(renderPng({}, kW, kH, nothing, &error));
	EXPECT_EQ(error.rfind(nothing + ": ", 0), 0u) << error;
	EXPECT_FALSE(renderPng({p}, 0, kH, nothing, nullptr));

	EXPECT_EQ(listDir(dir), std::vector<std::string>{"taken.png"});
	EXPECT_TRUE(listDir(folder).empty());
	EXPECT_FALSE(exists(nothing));

	rmdir(folder.c_str());
	rmdir(dir.c_str());
}

} // namespace
