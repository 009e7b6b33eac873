#include "obj_io.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <optional>
#include <system_error>

#include "vtnhost/platform.h"

namespace mvx {
namespace {

void setError(std::string* error, const std::string& message)
{
	if (error)
		*error = message;
}

bool isBlank(char c) { return c == ' ' || c == '\t'; }
bool isLineEnd(char c) { return c == '\n' || c == '\r'; }
bool isDigit(char c) { return static_cast<unsigned>(c - '0') < 10u; }

size_t bomLength(const std::string& text)
{
	return text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
}

// Parses a whole token as a finite double, independent of the C locale.
// std::from_chars rounds correctly (every double's shortest spelling reads
// back as the same double), so coordinates survive a read and a write exactly.
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

// A v line's x, y and z: where they are spelled in the text, and their values.
struct VLine
{
	size_t begin[3] = {0, 0, 0};
	size_t end[3] = {0, 0, 0};
	double value[3] = {0, 0, 0};
};

// One pass over the text, line by line. Lines end at \n, \r\n or a lone \r
// and are counted from 1, as an editor shows them; leading blanks are skipped;
// "v" and "f" need a blank after them (so "vt", "vn" and "fo" are other lines).
// A v line needs three finite numbers and may carry more (w, a colour), which
// are kept as text. Everything that is neither v nor f is passed over.
class Parser
{
public:
	Parser(const std::string& text, Progress* progress) : text_(text), end_(text.size()), progress_(progress) {}

	// onV(VLine) for each v line; onF(line number, corners) for each f line
	// when withFaces. False with the problem, naming the line.
	template <typename OnV, typename OnF>
	bool run(bool withFaces, OnV&& onV, OnF&& onF, std::string* problem)
	{
		size_t pos = bomLength(text_);
		size_t number = 0;
		const char* t = text_.data();
		while (pos < end_)
		{
			++number;
			if (progress_ && number % kLinesPerReport == 0)
			{
				progress_->report(pos, end_);
				if (Progress::stopRequested())
				{
					*problem = "stopped at line " + std::to_string(number);
					return false;
				}
			}
			size_t p = pos;
			while (p < end_ && isBlank(t[p]))
				++p;
			const bool keyword = p + 1 < end_ && isBlank(t[p + 1]);
			if (keyword && t[p] == 'v')
			{
				VLine line;
				if (!vertex(p + 2, number, &line, &p, problem))
					return false;
				onV(line);
			}
			else if (keyword && t[p] == 'f' && withFaces)
			{
				corners_.clear();
				if (!face(p + 2, number, &p, problem))
					return false;
				onF(number, corners_);
			}
			// On to the next line.
			while (p < end_ && !isLineEnd(t[p]))
				++p;
			if (p < end_)
				p += (t[p] == '\r' && p + 1 < end_ && t[p + 1] == '\n') ? 2u : 1u;
			pos = p;
		}
		return true;
	}

private:
	size_t tokenEnd(size_t q) const
	{
		const char* t = text_.data();
		while (q < end_ && !isBlank(t[q]) && !isLineEnd(t[q]))
			++q;
		return q;
	}
	size_t skipBlanks(size_t q) const
	{
		while (q < end_ && isBlank(text_[q]))
			++q;
		return q;
	}
	static std::string at(size_t number) { return "line " + std::to_string(number) + ": "; }

	bool vertex(size_t q, size_t number, VLine* line, size_t* stop, std::string* problem)
	{
		static const char* const kAxis[3] = {"x", "y", "z"};
		for (int k = 0; k < 3; ++k)
		{
			q = skipBlanks(q);
			const size_t e = tokenEnd(q);
			if (q == e)
			{
				*problem = at(number) + "v line without a " + kAxis[k] + " coordinate";
				return false;
			}
			if (!parseNumber(text_.data() + q, text_.data() + e, &line->value[k]))
			{
				*problem = at(number) + kAxis[k] + " coordinate '" + text_.substr(q, e - q) + "' is not a finite number";
				return false;
			}
			line->begin[k] = q;
			line->end[k] = e;
			q = e;
		}
		*stop = q;
		return true;
	}

	// A corner is v, v/vt, v//vn or v/vt/vn; the tool uses v alone, the rest
	// must still be indices (digits, a sign) so a stray word is not taken for one.
	bool face(size_t q, size_t number, size_t* stop, std::string* problem)
	{
		const char* t = text_.data();
		for (;;)
		{
			q = skipBlanks(q);
			if (q >= end_ || isLineEnd(t[q]))
				break;
			const size_t e = tokenEnd(q);
			size_t d = q;
			if (d < e && (t[d] == '-' || t[d] == '+'))
				++d;
			// Digits read as they are checked; ten are enough for any Int32, so
			// the value cannot wrap before the range check.
			size_t digitsEnd = d;
			long long index = 0;
			while (digitsEnd < e && isDigit(t[digitsEnd]) && digitsEnd - d < 11)
				index = index * 10 + (t[digitsEnd++] - '0');
			bool ok = digitsEnd > d;
			const bool tooLong = digitsEnd < e && isDigit(t[digitsEnd]);
			for (size_t r = digitsEnd; ok && r < e; ++r)
				ok = isDigit(t[r]) || (r > digitsEnd && (t[r] == '-' || t[r] == '+')) || t[r] == '/';
			ok = ok && (digitsEnd == e || tooLong || t[digitsEnd] == '/');
			if (!ok)
			{
				*problem = "not an OBJ file: " + at(number) + "face corner '" + text_.substr(q, e - q) + "' is not a vertex index";
				return false;
			}
			// No mesh holds more points than an Int32 counts.
			if (tooLong || index > std::numeric_limits<Int32>::max())
			{
				*problem = at(number) + "face corner '" + text_.substr(q, e - q) + "' is out of range";
				return false;
			}
			if (index == 0)
			{
				*problem = "not an OBJ file: " + at(number) + "face corner '" + text_.substr(q, e - q) + "': vertex indices count from 1";
				return false;
			}
			corners_.push_back(t[q] == '-' ? -index : index);
			q = e;
		}
		if (corners_.size() < 3)
		{
			*problem = at(number) + "face with " + std::to_string(corners_.size()) + " corner" + (corners_.size() == 1 ? "" : "s") +
			           " (at least 3 needed)";
			return false;
		}
		*stop = q;
		return true;
	}

	// Often enough that Ctrl-C is seen within milliseconds, seldom enough to cost nothing.
	static const size_t kLinesPerReport = 8192;

	const std::string& text_;
	const size_t end_;
	Progress* progress_;
	std::vector<long long> corners_;
};

// The longest shortest-round-trip spelling of a double ("-2.2250738585072014e-308").
constexpr size_t kLongestNumber = 24;

void appendNumber(std::string* out, double v)
{
	char buf[64];
	const std::to_chars_result r = std::to_chars(buf, buf + sizeof buf, v);
	out->append(buf, r.ptr);
}

}  // namespace

bool readObj(const std::string& path, ObjMesh* out, std::string* error, Progress* progress, uint64_t limit)
{
	std::string problem, text;
	if (!vtnhost::platform::readFile(path, &text, &problem, limit))
	{
		setError(error, path + ": " + problem);
		return false;
	}
	return parseObj(path, std::move(text), out, error, progress);
}

bool parseObj(const std::string& path, std::string text, ObjMesh* out, std::string* error, Progress* progress)
{
	std::string problem;
	ObjMesh mesh;
	mesh.path = path;
	mesh.text = std::move(text);
	// A text OBJ has no NUL; a binary file that happens to hold "v 1 2 3"
	// somewhere must not pass for a mesh.
	if (const void* nul = std::memchr(mesh.text.data(), '\0', mesh.text.size()))
	{
		const size_t offset = static_cast<size_t>(static_cast<const char*>(nul) - mesh.text.data());
		setError(error, path + ": not an OBJ file: binary data (NUL byte at offset " + std::to_string(offset) + ")");
		return false;
	}

	// Indices are resolved as the faces come: a negative one counts back from
	// the positions read so far. A positive one may name a position further
	// down the file, so those beyond the count so far wait for the end.
	struct Late
	{
		size_t face, line;
		long long index;  // 0-based, or negative: before the first vertex
	};
	std::optional<Late> beforeFirst;
	std::vector<Late> ahead;
	Parser parser(mesh.text, progress);
	const bool parsed = parser.run(
	    true, [&](const VLine& v) { mesh.points.push_back({v.value[0], v.value[1], v.value[2]}); },
	    [&](size_t line, const std::vector<long long>& corners) {
		    const long long known = static_cast<long long>(mesh.points.size());
		    const size_t f = mesh.faces.size();
		    std::vector<Int32>& face = mesh.faces.emplace_back(corners.size());
		    for (size_t i = 0; i < corners.size(); ++i)
		    {
			    const long long c = corners[i];
			    const long long index = c > 0 ? c - 1 : known + c;
			    if (index < 0 && !beforeFirst)
				    beforeFirst = Late{f, line, index};
			    else if (index >= known && (ahead.empty() || ahead.back().face != f || ahead.back().index < index))
			    {
				    if (!ahead.empty() && ahead.back().face == f)
					    ahead.back().index = index;
				    else
					    ahead.push_back({f, line, index});
			    }
			    face[i] = index >= 0 && index <= std::numeric_limits<Int32>::max() ? static_cast<Int32>(index) : -1;
		    }
	    },
	    &problem);
	if (!parsed)
	{
		setError(error, path + ": " + problem);
		return false;
	}
	if (mesh.points.empty())
	{
		setError(error, path + ": no vertices");
		return false;
	}
	// The first face, in file order, whose corner is out of range.
	const long long count = static_cast<long long>(mesh.points.size());
	const Late* bad = nullptr;
	for (const Late& l : ahead)
		if (l.index >= count)
		{
			bad = &l;
			break;
		}
	if (beforeFirst && (!bad || beforeFirst->face < bad->face))
		bad = &*beforeFirst;
	if (bad)
	{
		const std::string where = path + ": face " + std::to_string(bad->face + 1) + " (line " + std::to_string(bad->line) + ")";
		if (bad->index < 0)
			setError(error, where + " has a relative index reaching before the first vertex");
		else
			setError(error, where + " refers to vertex " + std::to_string(bad->index + 1) + ", but there are only " + std::to_string(count));
		return false;
	}

	if (out)
		*out = std::move(mesh);
	return true;
}

bool replaceVertices(const ObjMesh& mesh, const std::vector<LVector>& points, std::string* out, std::string* error, Progress* progress)
{
	// The caller's buffer is reused: a frame sequence writes a text of the same
	// size per frame, and a fresh one would fault all its pages in again. Until
	// the text is whole, the caller holds an empty string, never half of one.
	std::string result;
	if (out)
		result.swap(*out);
	result.clear();
	if (points.size() != mesh.points.size())
	{
		setError(error, mesh.path + ": " + std::to_string(points.size()) + " positions given for " + std::to_string(mesh.points.size()) + " vertices");
		return false;
	}
	for (size_t i = 0; i < points.size(); ++i)
		if (!std::isfinite(points[i].x) || !std::isfinite(points[i].y) || !std::isfinite(points[i].z))
		{
			setError(error, mesh.path + ": vertex " + std::to_string(i + 1) + " has a position that is not a finite number");
			return false;
		}

	// Room for every number at its longest, so the text never moves while it grows.
	result.reserve(mesh.text.size() + points.size() * 3 * kLongestNumber);
	size_t copied = 0, i = 0;
	std::string problem;
	Parser parser(mesh.text, progress);
	const bool parsed = parser.run(
	    false,
	    [&](const VLine& line) {
		    // Text with more v lines than were read is caught below, unpatched.
		    if (i >= points.size())
		    {
			    ++i;
			    return;
		    }
		    const double next[3] = {points[i].x, points[i].y, points[i].z};
		    for (int k = 0; k < 3; ++k)
		    {
			    // An unchanged value keeps its spelling, so an untouched point
			    // leaves its line byte-identical.
			    if (next[k] == line.value[k] && std::signbit(next[k]) == std::signbit(line.value[k]))
				    continue;
			    result.append(mesh.text, copied, line.begin[k] - copied);
			    appendNumber(&result, next[k]);
			    copied = line.end[k];
		    }
		    ++i;
	    },
	    [](size_t, const std::vector<long long>&) {}, &problem);
	if (!parsed)
	{
		setError(error, mesh.path + ": " + problem);
		return false;
	}
	if (i != mesh.points.size())
	{
		setError(error, mesh.path + ": the text has " + std::to_string(i) + " v lines but " + std::to_string(mesh.points.size()) + " vertices were read");
		return false;
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

bool writePosedObj(const ObjMesh& source, const std::vector<LVector>& points, const std::string& path, std::string* error,
                   Progress* progress, std::string* buffer)
{
	std::string own;
	std::string& text = buffer ? *buffer : own;
	// Ctrl-C while the text was made: the file is not begun.
	return replaceVertices(source, points, &text, error, progress) && !(progress && Progress::stopRequested()) &&
	       writeFileAtomic(path, text, error);
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
