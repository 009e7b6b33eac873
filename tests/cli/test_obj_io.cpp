// OBJ reading and writing for the command-line tool. The point of writing back
// through the original text is that nothing but positions changes, so most of
// these tests compare bytes, not parsed values.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "obj_io.h"

using mvx::ObjMesh;

namespace fs = std::filesystem;

namespace {

// Everything a real exporter puts around the geometry: CRLF endings, comments,
// materials, groups, uvs, normals, blank lines, v lines indented with spaces or
// a tab, a tab after "v", trailing blanks, vertex colours, a w, a '+' sign,
// exponents, and a last line without a line ending.
const char* const kRich =
    "# exported by hand\r\n"
    "mtllib scene.mtl\r\n"
    "o thing\r\n"
    "\r\n"
    "v 0 0 0\r\n"
    "v\t1.5 0 0  \r\n"
    "  v 1.5 2.25 0 0.5 0.25 1\r\n"
    "\tv -0.125 2.25 0 1.0\r\n"
    "v +3 1e-3 -2.5E+2\r\n"
    "\r\n"
    "vt 0 0\r\n"
    "vt 1 0\r\n"
    "vt 1 1\r\n"
    "vn 0 0 1\r\n"
    "g front\r\n"
    "usemtl red\r\n"
    "f 1/1/1 2/2/1 3/3/1 4/3/1\r\n"
    "s off\r\n"
    "g back\r\n"
    "usemtl blue\r\n"
    "f 5//1 1//1 4//1\r\n"
    "# the end, no line break";

const std::vector<LVector> kRichPoints = {{0, 0, 0}, {1.5, 0, 0}, {1.5, 2.25, 0}, {-0.125, 2.25, 0}, {3, 0.001, -250}};
const std::vector<std::vector<Int32>> kRichFaces = {{0, 1, 2, 3}, {4, 0, 3}};

// Lines with their endings, split where an OBJ reader splits them.
std::vector<std::string> linesOf(const std::string& text)
{
	std::vector<std::string> lines;
	size_t begin = 0;
	while (begin < text.size())
	{
		size_t end = text.find_first_of("\r\n", begin);
		if (end == std::string::npos)
			end = text.size();
		else
			end += (text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n') ? 2u : 1u;
		lines.push_back(text.substr(begin, end - begin));
		begin = end;
	}
	return lines;
}

bool isVLine(const std::string& line)
{
	const size_t p = line.find_first_not_of(" \t");
	return p != std::string::npos && line[p] == 'v' && p + 1 < line.size() && (line[p + 1] == ' ' || line[p + 1] == '\t');
}

// A v line cut around its three coordinates: what precedes x, what follows z.
struct Around
{
	std::string before, after;
};

Around around(const std::string& line)
{
	size_t p = line.find('v') + 1;
	size_t xBegin = 0, zEnd = 0;
	for (int k = 0; k < 3; ++k)
	{
		p = line.find_first_not_of(" \t", p);
		if (k == 0)
			xBegin = p;
		p = line.find_first_of(" \t\r\n", p);
		if (p == std::string::npos)
			p = line.size();
	}
	zEnd = p;
	return {line.substr(0, xBegin), line.substr(zEnd)};
}

void expectSamePoints(const std::vector<LVector>& expected, const std::vector<LVector>& actual)
{
	ASSERT_EQ(expected.size(), actual.size());
	for (size_t i = 0; i < expected.size(); ++i)
	{
		EXPECT_EQ(expected[i].x, actual[i].x) << "point " << i;
		EXPECT_EQ(expected[i].y, actual[i].y) << "point " << i;
		EXPECT_EQ(expected[i].z, actual[i].z) << "point " << i;
	}
}

class ObjIo : public ::testing::Test
{
protected:
	void SetUp() override
	{
		std::string pattern = (fs::temp_directory_path() / "morvexer-obj-XXXXXX").string();
		ASSERT_NE(mkdtemp(pattern.data()), nullptr);
		dir_ = pattern;
	}
	void TearDown() override
	{
		std::error_code ec;
		fs::remove_all(dir_, ec);
	}

	std::string put(const std::string& name, const std::string& text)
	{
		const std::string path = dir_ + "/" + name;
		std::ofstream f(path, std::ios::binary);
		f << text;
		return path;
	}

	static std::string contents(const std::string& path)
	{
		std::ifstream f(path, std::ios::binary);
		return std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
	}

	std::set<std::string> entries(const std::string& folder) const
	{
		std::set<std::string> names;
		for (const fs::directory_entry& e : fs::directory_iterator(folder))
			names.insert(e.path().filename().string());
		return names;
	}

	std::string dir_;
};

// --- Round trip -------------------------------------------------------------

TEST_F(ObjIo, ReadsPositionsAndFacesAmongEverythingElse)
{
	const std::string path = put("rich.obj", kRich);
	ObjMesh mesh;
	std::string error;
	ASSERT_TRUE(mvx::readObj(path, &mesh, &error)) << error;
	EXPECT_EQ(path, mesh.path);
	EXPECT_EQ(kRich, mesh.text);
	expectSamePoints(kRichPoints, mesh.points);
	EXPECT_EQ(kRichFaces, mesh.faces);

	// Text already in memory (a pose the studio's page sends) reads as the file.
	ObjMesh parsed;
	ASSERT_TRUE(mvx::parseObj("the posed cage", kRich, &parsed, &error)) << error;
	EXPECT_EQ("the posed cage", parsed.path);
	EXPECT_EQ(kRich, parsed.text);
	expectSamePoints(kRichPoints, parsed.points);
	EXPECT_EQ(kRichFaces, parsed.faces);
}

TEST_F(ObjIo, RewritingTheSamePointsKeepsEveryByte)
{
	ObjMesh mesh;
	std::string error;
	ASSERT_TRUE(mvx::readObj(put("rich.obj", kRich), &mesh, &error)) << error;
	std::string text;
	ASSERT_TRUE(mvx::replaceVertices(mesh, mesh.points, &text, &error)) << error;
	EXPECT_EQ(kRich, text);
}

TEST_F(ObjIo, MovedPointsChangeOnlyTheCoordinatesOfVLines)
{
	ObjMesh mesh;
	std::string error;
	ASSERT_TRUE(mvx::readObj(put("rich.obj", kRich), &mesh, &error)) << error;
	std::vector<LVector> moved = mesh.points;
	for (LVector& p : moved)
		p = {p.x + 0.1, p.y - 1.0 / 3.0, p.z * 7.0 + 1e5};
	std::string text;
	ASSERT_TRUE(mvx::replaceVertices(mesh, moved, &text, &error)) << error;

	const std::vector<std::string> before = linesOf(kRich);
	const std::vector<std::string> after = linesOf(text);
	ASSERT_EQ(before.size(), after.size());
	size_t vLines = 0;
	for (size_t i = 0; i < before.size(); ++i)
	{
		SCOPED_TRACE("line " + std::to_string(i + 1) + ": " + before[i]);
		if (!isVLine(before[i]))
		{
			EXPECT_EQ(before[i], after[i]);
			continue;
		}
		++vLines;
		EXPECT_NE(before[i], after[i]);
		const Around was = around(before[i]);
		const Around now = around(after[i]);
		EXPECT_EQ(was.before, now.before);
		EXPECT_EQ(was.after, now.after);  // colour, w, trailing blanks and CRLF
	}
	EXPECT_EQ(5u, vLines);

	// The new file reads back as exactly the moved points over the same faces.
	const std::string out = dir_ + "/moved.obj";
	ASSERT_TRUE(mvx::writeFileAtomic(out, text, &error)) << error;
	ObjMesh again;
	ASSERT_TRUE(mvx::readObj(out, &again, &error)) << error;
	expectSamePoints(moved, again.points);
	EXPECT_EQ(kRichFaces, again.faces);
}

TEST_F(ObjIo, HandlesByteOrderMarkAndLoneCarriageReturns)
{
	// Old Mac line endings, and a BOM that would hide the first v line.
	const std::string text = "\xEF\xBB\xBFv 0 0 0\rv 1 0 0\r# v 7 7 7\rv 0 1 0\rf 1 2 3\r";
	ObjMesh mesh;
	std::string error;
	ASSERT_TRUE(mvx::readObj(put("mac.obj", text), &mesh, &error)) << error;
	expectSamePoints({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}, mesh.points);
	EXPECT_EQ((std::vector<std::vector<Int32>>{{0, 1, 2}}), mesh.faces);

	std::string out;
	ASSERT_TRUE(mvx::replaceVertices(mesh, {{0, 0, 0}, {2, 0, 0}, {0, 1, 0}}, &out, &error)) << error;
	EXPECT_EQ("\xEF\xBB\xBFv 0 0 0\rv 2 0 0\r# v 7 7 7\rv 0 1 0\rf 1 2 3\r", out);
}

TEST_F(ObjIo, WrittenCoordinatesReadBackAsTheSameDoubles)
{
	const std::vector<LVector> awkward = {
	    {0.1 + 0.2, 1.0 / 3.0, -2.0 / 3.0},
	    {1e-300, -1e300, 123456789.123456789},
	    {-0.0, 6.02214076e23, -7.0 / 9.0 * 1e-7},
	    {3.0, 0.5, 1e21},
	};
	const std::vector<std::vector<Int32>> faces = {{0, 1, 2}, {0, 2, 3}};
	const std::string path = put("plain.obj", mvx::objText(std::vector<LVector>(4, LVector{1, 2, 3}), faces, "start"));
	ObjMesh mesh;
	std::string error;
	ASSERT_TRUE(mvx::readObj(path, &mesh, &error)) << error;
	std::string text;
	ASSERT_TRUE(mvx::replaceVertices(mesh, awkward, &text, &error)) << error;
	ASSERT_TRUE(mvx::writeFileAtomic(path, text, &error)) << error;
	ObjMesh again;
	ASSERT_TRUE(mvx::readObj(path, &again, &error)) << error;
	expectSamePoints(awkward, again.points);
	EXPECT_TRUE(std::signbit(again.points[2].x));
}

TEST_F(ObjIo, PlainObjTextReadsBackWithItsCommentOnTop)
{
	const std::vector<LVector> points = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}, {0.5, 0.5, 1.0 / 3.0}};
	const std::vector<std::vector<Int32>> faces = {{0, 3, 2, 1}, {0, 1, 4}, {1, 2, 4}, {2, 3, 4}, {3, 0, 4}};
	// A line break in the comment must not let the rest pass for geometry.
	const std::string text = mvx::objText(points, faces, "pyramid from a test\nv 9 9 9\rf 1 2 3\r\nend");
	EXPECT_EQ(0u, text.find("# pyramid from a test\n"));
	ObjMesh mesh;
	std::string error;
	ASSERT_TRUE(mvx::readObj(put("pyramid.obj", text), &mesh, &error)) << error;
	expectSamePoints(points, mesh.points);
	EXPECT_EQ(faces, mesh.faces);
}

// --- Faces ------------------------------------------------------------------

TEST_F(ObjIo, ReadsQuadsNgonsAndRelativeIndices)
{
	const std::string text =
	    "v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\nv 0 0 1\nv 1 0 1\nv 1 1 1\nv 0 1 1\n"
	    "f 1 2 3 4\n"
	    "f -8 -7/-1 -6 -5 -4\n"  // relative to the 8 positions so far
	    "v 2 2 2\nv 3 3 3\n"
	    "f -1 -2 -3\n"  // now relative to 10
	    "f 5 6 7 8 9 10\n";
	ObjMesh mesh;
	std::string error;
	ASSERT_TRUE(mvx::readObj(put("ngons.obj", "vt 0 0\n" + text), &mesh, &error)) << error;
	const std::vector<std::vector<Int32>> expected = {{0, 1, 2, 3}, {0, 1, 2, 3, 4}, {9, 8, 7}, {4, 5, 6, 7, 8, 9}};
	EXPECT_EQ(expected, mesh.faces);
	EXPECT_EQ(10u, mesh.points.size());
}

TEST_F(ObjIo, KeepsFileOrderOfFacesAcrossGroupsObjectsAndMaterials)
{
	std::string text;
	for (int i = 0; i < 9; ++i)
		text += "v " + std::to_string(i) + " " + std::to_string(i * i) + " 1\n";
	// Each face is told apart by its first corner.
	text +=
	    "f 1 2 3\n"
	    "g one\nf 2 3 4\n"
	    "usemtl a\nf 3 4 5 6\n"
	    "usemtl b\nf 4 5 6\n"
	    "o second\nf 5 6 7\n"
	    "g one\nf 6 7 8 9\n"
	    "usemtl a\nf 7 8 9\n"
	    "g\nf 8 9 1\n"
	    "usemtl b\nf 9 1 2\n";
	ObjMesh mesh;
	std::string error;
	ASSERT_TRUE(mvx::readObj(put("groups.obj", text), &mesh, &error)) << error;
	ASSERT_EQ(9u, mesh.faces.size());
	for (size_t i = 0; i < mesh.faces.size(); ++i)
		EXPECT_EQ(static_cast<Int32>(i), mesh.faces[i][0]) << "face " << i;
	EXPECT_EQ(4u, mesh.faces[2].size());
	EXPECT_EQ(4u, mesh.faces[5].size());
}

TEST_F(ObjIo, ReadsFacesWithHundredsOfCorners)
{
	const int n = 300;
	const double kPi = 3.14159265358979323846;
	std::string text;
	for (int i = 0; i < n; ++i)
		text += "v " + std::to_string(std::cos(2 * kPi * i / n)) + " " + std::to_string(std::sin(2 * kPi * i / n)) + " 0\n";
	text += "v 0 0 1\nf";
	for (int i = 1; i <= n; ++i)
		text += " " + std::to_string(i);
	text += "\nf 1 2 " + std::to_string(n + 1) + "\n";
	ObjMesh mesh;
	std::string error;
	ASSERT_TRUE(mvx::readObj(put("disc.obj", text), &mesh, &error)) << error;
	ASSERT_EQ(2u, mesh.faces.size());
	ASSERT_EQ(static_cast<size_t>(n), mesh.faces[0].size());
	for (int i = 0; i < n; ++i)
		EXPECT_EQ(i, mesh.faces[0][static_cast<size_t>(i)]);
	EXPECT_EQ((std::vector<Int32>{0, 1, n}), mesh.faces[1]);
}

// --- Malformed input ----------------------------------------------------------

TEST_F(ObjIo, RejectsBadFilesNamingFileAndProblem)
{
	struct Case
	{
		const char* name;
		std::string text;
		const char* says;
	};
	const std::string tri = "v 0 0 0\nv 1 0 0\nv 0 1 0\n";
	// An executable's header, then something that looks like a v line.
	static const char kBinary[] = "\x7f" "ELF\x02\x01\x01\0\0\0v 1 2 3\n";
	const std::vector<Case> cases = {
	    {"empty", "", "no vertices"},
	    {"comments", "# nothing here\n\n# at all\n", "no vertices"},
	    {"prose", "Dear reader,\nthis is a letter.\n", "no vertices"},
	    {"binary", std::string(kBinary, sizeof kBinary - 1), "not an OBJ file"},
	    {"zero_index", tri + "f 0 1 2\n", "not an OBJ file"},
	    {"index_past_end", tri + "f 1 2 4\n", "refers to vertex 4"},
	    {"relative_before_first", tri + "f -1 -2 -4\n", "before the first vertex"},
	    {"faces_without_positions", "f 1 2 3\n", "no vertices"},
	    {"bad_number", "v 0 0 0\nv 1 zero 0\nv 0 1 0\n", "line 2"},
	    {"missing_z", tri + "v 1 1\n", "line 4"},
	    {"infinite", tri + "v 1 inf 0\n", "line 4"},
	    {"two_corners", tri + "f 1 2\n", "line 4"},
	};
	for (const Case& c : cases)
	{
		SCOPED_TRACE(c.name);
		const std::string path = put(std::string(c.name) + ".obj", c.text);
		ObjMesh mesh;
		mesh.path = "untouched";
		std::string error;
		EXPECT_FALSE(mvx::readObj(path, &mesh, &error));
		EXPECT_EQ(0u, error.find(path + ": ")) << error;
		EXPECT_NE(std::string::npos, error.find(c.says)) << error;
		EXPECT_EQ(std::string::npos, error.find('\n')) << error;
		EXPECT_EQ("untouched", mesh.path);

		std::string parseError;
		EXPECT_FALSE(mvx::parseObj(path, c.text, &mesh, &parseError));
		EXPECT_EQ(error, parseError);
		EXPECT_EQ("untouched", mesh.path);
	}
}

TEST_F(ObjIo, RejectsMissingFilesAndFolders)
{
	ObjMesh mesh;
	std::string error;
	const std::string missing = dir_ + "/absent.obj";
	EXPECT_FALSE(mvx::readObj(missing, &mesh, &error));
	EXPECT_EQ(missing + ": no such file", error);

	error.clear();
	EXPECT_FALSE(mvx::readObj(dir_, &mesh, &error));
	EXPECT_EQ(0u, error.find(dir_ + ": ")) << error;
}

TEST_F(ObjIo, ReplaceRefusesMismatchedCounts)
{
	ObjMesh mesh;
	std::string error;
	ASSERT_TRUE(mvx::readObj(put("rich.obj", kRich), &mesh, &error)) << error;

	std::string text = "stale";
	std::vector<LVector> tooMany = mesh.points;
	tooMany.push_back({1, 1, 1});
	EXPECT_FALSE(mvx::replaceVertices(mesh, tooMany, &text, &error));
	EXPECT_EQ(0u, error.find(mesh.path + ": ")) << error;
	EXPECT_EQ("", text) << "a failed replace hands out what it held or half a text";

	// Text that no longer matches what was read must not be patched blindly.
	ObjMesh edited = mesh;
	edited.text += "\r\nv 9 9 9\r\n";
	error.clear();
	text = "stale";
	EXPECT_FALSE(mvx::replaceVertices(edited, mesh.points, &text, &error));
	EXPECT_FALSE(error.empty());
	EXPECT_EQ("", text) << "a failed replace hands out what it held or half a text";

	std::vector<LVector> broken = mesh.points;
	broken[2].y = std::nan("");
	error.clear();
	text = "stale";
	EXPECT_FALSE(mvx::replaceVertices(mesh, broken, &text, &error));
	EXPECT_FALSE(error.empty());
	EXPECT_EQ("", text) << "a failed replace hands out what it held or half a text";
}

// A frame sequence hands the same buffer back each frame: what it held before
// never shows in the next text.
TEST_F(ObjIo, ReplaceIntoAReusedBufferWritesTheSameBytes)
{
	ObjMesh mesh;
	std::string error;
	ASSERT_TRUE(mvx::readObj(put("rich.obj", kRich), &mesh, &error)) << error;
	std::vector<LVector> moved = mesh.points;
	for (LVector& p : moved)
		p.x += 0.25;
	std::string fresh, reused(3 * mesh.text.size(), '#');
	ASSERT_TRUE(mvx::replaceVertices(mesh, moved, &fresh, &error)) << error;
	ASSERT_TRUE(mvx::replaceVertices(mesh, mesh.points, &reused, &error)) << error;
	EXPECT_EQ(mesh.text, reused);
	ASSERT_TRUE(mvx::replaceVertices(mesh, moved, &reused, &error)) << error;
	EXPECT_EQ(fresh, reused);
}

// --- One pass, exact numbers -----------------------------------------------------

TEST_F(ObjIo, ReadsEverySpellingAsTheNearestDouble)
{
	// Spellings a fast reader gets wrong: more digits than a double holds,
	// halfway cases, subnormals, the extremes, exponents either way.
	const std::vector<std::string> spellings = {
	    "0.1", "0.30000000000000004", "2.2250738585072011e-308", "2.2250738585072014e-308", "4.9e-324", "1e-320",
	    "1.7976931348623157e308", "9007199254740993", "9007199254740992.5", "1.00000000000000011102230246251565404236316680908203125",
	    "123456789012345678901234567890", "-0.0000000000000000000000000000001", "7.038531e-26", "+3.14159265358979323846264338327950288",
	    "1E5", "-2.5e+2", "0.000", ".5", "5."};
	std::mt19937_64 random(20261209);
	std::vector<std::string> all = spellings;
	for (int i = 0; i < 3000; ++i)
	{
		// Shortest spellings of doubles of every magnitude, and long ones.
		uint64_t bits = random();
		double d;
		std::memcpy(&d, &bits, sizeof d);
		if (!std::isfinite(d))
			continue;
		char buf[64];
		all.push_back(std::string(buf, std::to_chars(buf, buf + sizeof buf, d).ptr));
		std::snprintf(buf, sizeof buf, "%.25g", d);
		all.push_back(buf);
	}
	std::string text;
	for (size_t i = 0; i + 2 < all.size(); i += 3)
		text += "v " + all[i] + " " + all[i + 1] + " " + all[i + 2] + "\n";
	ObjMesh mesh;
	std::string error;
	ASSERT_TRUE(mvx::readObj(put("numbers.obj", text), &mesh, &error)) << error;
	ASSERT_EQ(all.size() / 3, mesh.points.size());
	for (size_t i = 0; i < mesh.points.size(); ++i)
	{
		const double read[3] = {mesh.points[i].x, mesh.points[i].y, mesh.points[i].z};
		for (size_t k = 0; k < 3; ++k)
		{
			// strtod in the "C" locale rounds correctly on glibc: the reference.
			const std::string& spelled = all[3 * i + k];
			const double expected = std::strtod(spelled.c_str(), nullptr);
			EXPECT_EQ(0, std::memcmp(&expected, &read[k], sizeof expected)) << spelled << " read as " << read[k];
		}
	}
}

TEST_F(ObjIo, CountsLinesFromOneWhateverEndsThem)
{
	// BOM, CRLF, a lone CR and LF in one file: the fifth line is the bad one,
	// as an editor numbers it.
	const std::string head = "\xEF\xBB\xBFv 0 0 0\r\nv 1 0 0\rv 0 1 0\n\r\n";
	struct Case
	{
		const char* name;
		std::string line;
		std::string says;
	};
	const std::vector<Case> cases = {
	    {"number", "v 0 0 1e999\n", "line 5: z coordinate '1e999' is not a finite number"},
	    {"corner_word", "f 1 2 three\n", "not an OBJ file: line 5: face corner 'three' is not a vertex index"},
	    {"corner_comment", "f 1 2 3 # a comment\n", "not an OBJ file: line 5: face corner '#' is not a vertex index"},
	    {"corner_glued", "f 1 2 3x\n", "not an OBJ file: line 5: face corner '3x' is not a vertex index"},
	    {"corner_zero", "f 1 2 0/1/1\n", "not an OBJ file: line 5: face corner '0/1/1': vertex indices count from 1"},
	    {"corner_signed_zero", "f 1 2 -0\n", "not an OBJ file: line 5: face corner '-0': vertex indices count from 1"},
	    {"corner_huge", "f 1 2 99999999999999999999\n", "line 5: face corner '99999999999999999999' is out of range"},
	    {"corner_bad_uv", "f 1/a 2 3\n", "not an OBJ file: line 5: face corner '1/a' is not a vertex index"},
	    {"one_corner", "f\t1\n", "line 5: face with 1 corner (at least 3 needed)"},
	};
	for (const Case& c : cases)
	{
		SCOPED_TRACE(c.name);
		const std::string path = put(std::string(c.name) + ".obj", head + c.line + "v 0 0 1\n");
		std::string error;
		EXPECT_FALSE(mvx::readObj(path, nullptr, &error));
		EXPECT_EQ(path + ": " + c.says, error);
	}
}

TEST_F(ObjIo, IndicesMayLookAheadAndTheFirstBadFaceIsNamed)
{
	ObjMesh mesh;
	std::string error;
	// A face may name positions further down; relative ones count back from
	// the positions read so far.
	ASSERT_TRUE(mvx::readObj(put("ahead.obj", "v 0 0 0\nf 1 2 3\nv 1 0 0\nv 0 1 0\nf -1 -2 -3\nf +1 +2 +3\n"), &mesh, &error)) << error;
	EXPECT_EQ((std::vector<std::vector<Int32>>{{0, 1, 2}, {2, 1, 0}, {0, 1, 2}}), mesh.faces);

	// Of several bad faces, the one that comes first in the file is reported,
	// whichever way it is bad.
	const std::string tri = "v 0 0 0\nv 1 0 0\nv 0 1 0\n";
	error.clear();
	EXPECT_FALSE(mvx::readObj(put("a.obj", tri + "f 1 2 3\nf 1 2 7\nf -1 -2 -9\nf 1 2 8\n"), &mesh, &error));
	EXPECT_NE(std::string::npos, error.find(": face 2 (line 5) refers to vertex 7, but there are only 3")) << error;
	error.clear();
	EXPECT_FALSE(mvx::readObj(put("b.obj", tri + "f -1 -2 -9\nf 1 2 7\n"), &mesh, &error));
	EXPECT_NE(std::string::npos, error.find(": face 1 (line 4) has a relative index reaching before the first vertex")) << error;
	error.clear();
	EXPECT_FALSE(mvx::readObj(put("c.obj", tri + "f 1 2 9\nf 1 2 5\n"), &mesh, &error));
	EXPECT_NE(std::string::npos, error.find(": face 1 (line 4) refers to vertex 9")) << error;
	EXPECT_EQ(3u, mesh.points.size()) << "the mesh given stays as it was";
}

// --- Atomic writes -------------------------------------------------------------

TEST_F(ObjIo, AtomicWriteReplacesAndLeavesNoTemporaries)
{
	const std::string path = dir_ + "/out.obj";
	std::string error;
	ASSERT_TRUE(mvx::writeFileAtomic(path, "first\n", &error)) << error;
	EXPECT_EQ("first\n", contents(path));
	ASSERT_EQ(0, ::chmod(path.c_str(), 0640));
	const std::string big(1 << 20, 'x');
	ASSERT_TRUE(mvx::writeFileAtomic(path, big, &error)) << error;
	EXPECT_EQ(big, contents(path));
	struct stat st;
	ASSERT_EQ(0, ::stat(path.c_str(), &st));
	EXPECT_EQ(0640u, st.st_mode & 07777u);
	EXPECT_EQ((std::set<std::string>{"out.obj"}), entries(dir_));
}

TEST_F(ObjIo, PosedMeshIsItsSourceTextWithNewPositionsOrNothing)
{
	ObjMesh mesh;
	std::string error;
	ASSERT_TRUE(mvx::readObj(put("rich.obj", kRich), &mesh, &error)) << error;
	std::vector<LVector> moved = mesh.points;
	moved[2].y = -7.5;
	std::string expected;
	ASSERT_TRUE(mvx::replaceVertices(mesh, moved, &expected, &error)) << error;
	const std::string path = dir_ + "/posed.obj";
	ASSERT_TRUE(mvx::writePosedObj(mesh, moved, path, &error)) << error;
	EXPECT_EQ(expected, contents(path));

	moved.pop_back();
	const std::string refused = dir_ + "/refused.obj";
	EXPECT_FALSE(mvx::writePosedObj(mesh, moved, refused, &error));
	EXPECT_NE(std::string::npos, error.find("4 positions given for 5 vertices")) << error;
	EXPECT_EQ((std::set<std::string>{"rich.obj", "posed.obj"}), entries(dir_));
}

TEST_F(ObjIo, AtomicWriteFailsCleanly)
{
	std::string error;
	const std::string inMissing = dir_ + "/no/such/folder/out.obj";
	EXPECT_FALSE(mvx::writeFileAtomic(inMissing, "data\n", &error));
	EXPECT_EQ(0u, error.find(inMissing + ": cannot write: ")) << error;
	EXPECT_FALSE(fs::exists(dir_ + "/no"));
	EXPECT_TRUE(entries(dir_).empty());

	// Onto a folder: the temporary must not stay behind either.
	fs::create_directory(dir_ + "/sub");
	error.clear();
	EXPECT_FALSE(mvx::writeFileAtomic(dir_ + "/sub", "data\n", &error));
	EXPECT_EQ(0u, error.find(dir_ + "/sub: cannot write: ")) << error;
	EXPECT_EQ((std::set<std::string>{"sub"}), entries(dir_));
	EXPECT_TRUE(entries(dir_ + "/sub").empty());
}

}  // namespace
