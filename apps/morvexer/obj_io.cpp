#include "obj_io.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <sstream>
#include <system_error>

#include <tiny_obj_loader.h>

#include "vtnhost/platform.h"

namespace mvx {
namespace {

void setError(std::string* error, const std::string& message)
{
	if (error)
		*error = message;
}

bool isBlank(char c) { return c == ' ' || c == '\t'; }

// One v line: where its x, y and z are spelled in the text, and their values.
struct VLine
{
	size_t number = 0;
	size_t begin[3] = {0, 0, 0};
	size_t end[3] = {0, 0, 0};
	double value[3] = {0, 0, 0};
};

struct FLine
{
	size_t number = 0;
	size_t corners = 0;
};

// What a scan of the text found. Lines are split and recognised the way
// tinyobjloader does it (\n, \r\n and a lone \r end a line; leading blanks are
// skipped; "v" and "f" need a blank after them), so both agree on what counts.
struct Scan
{
	std::vector<VLine> vLines;
	std::vector<FLine> fLines;
};

size_t bomLength(const std::string& text)
{
	return text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
}

// Parses a whole token as a finite double, independent of the C locale.
bool parseNumber(const char* first, const char* last, double* value)
{
	// from_chars takes no '+', which OBJ writers may use; "+-1" stays an error.
	if (first != last && *first == '+')
	{
		++first;
		if (first != last && *first == '-')
			return false;
	}
	double v = 0;
	const std::from_chars_result r = std::from_chars(first, last, v);
	if (first == last || r.ec != std::errc() || r.ptr != last || !std::isfinite(v))
		return false;
	*value = v;
	return true;
}

bool scanText(const std::string& text, Scan* scan, std::string* problem)
{
	static const char* const kAxis[3] = {"x", "y", "z"};
	size_t pos = bomLength(text);
	size_t number = 0;
	while (pos < text.size())
	{
		++number;
		const size_t begin = pos;
		size_t end = text.find_first_of("\r\n", pos);
		if (end == std::string::npos)
			end = text.size();
		pos = end;
		if (pos < text.size())
			pos += (text[pos] == '\r' && pos + 1 < text.size() && text[pos + 1] == '\n') ? 2u : 1u;

		size_t p = begin;
		while (p < end && isBlank(text[p]))
			++p;
		if (p + 1 >= end || !isBlank(text[p + 1]))
			continue;
		if (text[p] == 'v')
		{
			VLine line;
			line.number = number;
			size_t q = p + 2;
			for (int k = 0; k < 3; ++k)
			{
				while (q < end && isBlank(text[q]))
					++q;
				size_t e = q;
				while (e < end && !isBlank(text[e]))
					++e;
				if (q == e)
				{
					*problem = "line " + std::to_string(number) + ": v line without a " + kAxis[k] + " coordinate";
					return false;
				}
				if (!parseNumber(text.data() + q, text.data() + e, &line.value[k]))
				{
					*problem = "line " + std::to_string(number) + ": " + kAxis[k] + " coordinate '" + text.substr(q, e - q) + "' is not a finite number";
					return false;
				}
				line.begin[k] = q;
				line.end[k] = e;
				q = e;
			}
			scan->vLines.push_back(line);
		}
		else if (text[p] == 'f')
		{
			FLine line;
			line.number = number;
			size_t q = p + 2;
			while (q < end)
			{
				while (q < end && isBlank(text[q]))
					++q;
				if (q == end)
					break;
				++line.corners;
				while (q < end && !isBlank(text[q]))
					++q;
			}
			if (line.corners < 3)
			{
				*problem = "line " + std::to_string(number) + ": face with " + std::to_string(line.corners) + " corner" + (line.corners == 1 ? "" : "s") + " (at least 3 needed)";
				return false;
			}
			scan->fLines.push_back(line);
		}
	}
	return true;
}

// tinyobjloader may store positions as floats; enough to tell that the scan
// and the loader are looking at the same value.
bool sameAsLoader(double mine, tinyobj::real_t theirs)
{
	const double a = static_cast<tinyobj::real_t>(mine);
	const double b = theirs;
	if (a == b)
		return true;
	return std::fabs(a - b) <= 1e-5 * std::max(std::fabs(a), std::fabs(b)) || (std::fabs(a) < 1e-30 && std::fabs(b) < 1e-30);
}

std::string firstLine(const std::string& s)
{
	std::string line = s.substr(0, s.find_first_of("\r\n"));
	while (!line.empty() && isBlank(line.back()))
		line.pop_back();
	return line;
}

void appendNumber(std::string* out, double v)
{
	char buf[64];
	const std::to_chars_result r = std::to_chars(buf, buf + sizeof buf, v);
	out->append(buf, r.ptr);
}

}  // namespace

bool readObj(const std::string& path, ObjMesh* out, std::string* error)
{
	std::string problem;
	ObjMesh mesh;
	mesh.path = path;
	if (!vtnhost::platform::readFile(path, &mesh.text, &problem))
	{
		setError(error, path + ": " + problem);
		return false;
	}
	// A text OBJ has no NUL; the loader would silently cut lines short at one.
	const size_t nul = mesh.text.find('\0');
	if (nul != std::string::npos)
	{
		setError(error, path + ": not an OBJ file: binary data (NUL byte at offset " + std::to_string(nul) + ")");
		return false;
	}

	Scan scan;
	if (!scanText(mesh.text, &scan, &problem))
	{
		setError(error, path + ": " + problem);
		return false;
	}

	// Parse from the text already read, so both views see the same bytes, and
	// without a material reader: the tool never needs the .mtl files.
	tinyobj::attrib_t attrib;
	std::vector<tinyobj::shape_t> shapes;
	std::vector<tinyobj::material_t> materials;
	std::string warn, err;
	std::istringstream in(mesh.text.substr(bomLength(mesh.text)));
	if (!tinyobj::LoadObj(&attrib, &shapes, &materials, &warn, &err, &in, nullptr, false, false))
	{
		const std::string reason = firstLine(err);
		setError(error, path + ": not an OBJ file: " + (reason.empty() ? "tinyobjloader could not parse it" : reason));
		return false;
	}

	const size_t vertexCount = attrib.vertices.size() / 3;
	if (vertexCount == 0)
	{
		setError(error, path + ": no vertices");
		return false;
	}
	if (vertexCount != scan.vLines.size())
	{
		setError(error, path + ": found " + std::to_string(scan.vLines.size()) + " v lines but tinyobjloader read " + std::to_string(vertexCount) + " vertices");
		return false;
	}
	mesh.points.resize(vertexCount);
	for (size_t i = 0; i < vertexCount; ++i)
	{
		const VLine& line = scan.vLines[i];
		for (int k = 0; k < 3; ++k)
		{
			if (!sameAsLoader(line.value[k], attrib.vertices[3 * i + static_cast<size_t>(k)]))
			{
				setError(error, path + ": line " + std::to_string(line.number) + ": tinyobjloader read a different position than the text holds");
				return false;
			}
		}
		mesh.points[i] = {line.value[0], line.value[1], line.value[2]};
	}

	// Shapes come in file order and each keeps its faces in order, so their
	// concatenation is the file's f lines. The loader counts corners in an
	// unsigned char, so a face of 256+ corners is cut by the f line's own count.
	std::vector<int> flat;
	std::vector<unsigned> loaderCounts;
	for (const tinyobj::shape_t& shape : shapes)
	{
		for (const tinyobj::index_t& idx : shape.mesh.indices)
			flat.push_back(idx.vertex_index);
		for (const auto n : shape.mesh.num_face_vertices)
			loaderCounts.push_back(static_cast<unsigned>(n));
	}
	size_t cornerTotal = 0;
	for (const FLine& f : scan.fLines)
		cornerTotal += f.corners;
	bool agree = loaderCounts.size() == scan.fLines.size() && flat.size() == cornerTotal;
	for (size_t i = 0; agree && i < loaderCounts.size(); ++i)
		agree = static_cast<unsigned char>(scan.fLines[i].corners) == static_cast<unsigned char>(loaderCounts[i]);
	if (!agree)
	{
		setError(error, path + ": found " + std::to_string(scan.fLines.size()) + " f lines but tinyobjloader read " + std::to_string(loaderCounts.size()) + " faces");
		return false;
	}

	mesh.faces.resize(scan.fLines.size());
	size_t at = 0;
	for (size_t i = 0; i < scan.fLines.size(); ++i)
	{
		std::vector<Int32>& face = mesh.faces[i];
		face.resize(scan.fLines[i].corners);
		for (Int32& corner : face)
		{
			const int idx = flat[at++];
			if (idx < 0 || static_cast<size_t>(idx) >= vertexCount)
			{
				const std::string where = path + ": face " + std::to_string(i + 1) + " (line " + std::to_string(scan.fLines[i].number) + ")";
				if (idx < 0)
					setError(error, where + " has a relative index reaching before the first vertex");
				else
					setError(error, where + " refers to vertex " + std::to_string(idx + 1) + ", but there are only " + std::to_string(vertexCount));
				return false;
			}
			corner = idx;
		}
	}

	if (out)
		*out = std::move(mesh);
	return true;
}

bool replaceVertices(const ObjMesh& mesh, const std::vector<LVector>& points, std::string* out, std::string* error)
{
	if (points.size() != mesh.points.size())
	{
		setError(error, mesh.path + ": " + std::to_string(points.size()) + " positions given for " + std::to_string(mesh.points.size()) + " vertices");
		return false;
	}
	Scan scan;
	std::string problem;
	if (!scanText(mesh.text, &scan, &problem))
	{
		setError(error, mesh.path + ": " + problem);
		return false;
	}
	if (scan.vLines.size() != mesh.points.size())
	{
		setError(error, mesh.path + ": the text has " + std::to_string(scan.vLines.size()) + " v lines but " + std::to_string(mesh.points.size()) + " vertices were read");
		return false;
	}

	std::string result;
	result.reserve(mesh.text.size() + mesh.text.size() / 4);
	size_t copied = 0;
	for (size_t i = 0; i < points.size(); ++i)
	{
		const double next[3] = {points[i].x, points[i].y, points[i].z};
		const VLine& line = scan.vLines[i];
		for (int k = 0; k < 3; ++k)
		{
			if (!std::isfinite(next[k]))
			{
				setError(error, mesh.path + ": vertex " + std::to_string(i + 1) + " has a position that is not a finite number");
				return false;
			}
			// An unchanged value keeps its spelling, so an untouched point
			// leaves its line byte-identical.
			if (next[k] == line.value[k] && std::signbit(next[k]) == std::signbit(line.value[k]))
				continue;
			result.append(mesh.text, copied, line.begin[k] - copied);
			appendNumber(&result, next[k]);
			copied = line.end[k];
		}
	}
	result.append(mesh.text, copied, std::string::npos);
	if (out)
		*out = std::move(result);
	return true;
}

bool writeFileAtomic(const std::string& path, const std::string& text, std::string* error)
{
	std::string problem;
	if (vtnhost::platform::writeFileAtomic(path, text, &problem))
		return true;
	setError(error, path + ": cannot write: " + problem);
	return false;
}

std::string objText(const std::vector<LVector>& points, const std::vector<std::vector<Int32>>& faces, const std::string& comment)
{
	std::string text;
	// Each comment line gets its own '#', so a line break in it (\r alone is
	// one too) cannot start a line a reader would take for geometry.
	size_t pos = 0;
	do
	{
		size_t end = comment.find_first_of("\r\n", pos);
		if (end == std::string::npos)
			end = comment.size();
		const std::string line = comment.substr(pos, end - pos);
		text += line.empty() ? "#\n" : "# " + line + "\n";
		if (end + 1 < comment.size() && comment[end] == '\r' && comment[end + 1] == '\n')
			++end;
		pos = end + 1;
	} while (pos < comment.size());
	for (const LVector& p : points)
	{
		text += "v ";
		appendNumber(&text, p.x);
		text += ' ';
		appendNumber(&text, p.y);
		text += ' ';
		appendNumber(&text, p.z);
		text += '\n';
	}
	for (const std::vector<Int32>& face : faces)
	{
		text += 'f';
		for (const Int32 i : face)
			text += ' ' + std::to_string(static_cast<long long>(i) + 1);
		text += '\n';
	}
	return text;
}

}  // namespace mvx
