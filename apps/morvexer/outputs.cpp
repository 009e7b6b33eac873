#include "outputs.h"

#include <filesystem>
#include <set>
#include <system_error>

#include "cli_host.h"

namespace mvx {
namespace platform = vtnhost::platform;

namespace {

[[noreturn]] void refuse(const std::string& what, const std::string& problem) { throw Failure{what + ": " + problem}; }

bool allDigits(const std::string& s)
{
	for (char c : s)
		if (c < '0' || c > '9')
			return false;
	return !s.empty();
}

// One spelling for every path that names the same place: links and "." and
// ".." resolved as far as the path exists, so an output not yet written is
// still told apart from, or matched with, another spelling of it.
std::string placeOf(const std::string& path)
{
	std::error_code ec;
	const std::filesystem::path p = std::filesystem::weakly_canonical(platform::fsPath(path), ec);
	return ec ? path : p.u8string();
}

}  // namespace

NamePattern::NamePattern(const std::string& option, const std::string& text, bool meshAllowed) : text_(text)
{
	const std::string what = option + " " + text;
	for (size_t i = 0; i < text.size();)
	{
		if (text[i] == '}')
			refuse(what, "a '}' without its '{' (braces only enclose {mesh} and {frame})");
		if (text[i] != '{')
		{
			if (parts_.empty() || parts_.back().kind != Kind::literal)
				parts_.push_back({Kind::literal, std::string(), 0});
			parts_.back().text += text[i++];
			continue;
		}
		const size_t close = text.find('}', i);
		if (close == std::string::npos)
			refuse(what, "a '{' without its '}'");
		const std::string inside = text.substr(i + 1, close - i - 1);
		const std::string placeholder = "{" + inside + "}";
		if (inside == "mesh")
		{
			if (!meshAllowed)
				refuse(what, "{mesh} has no meaning here");
			parts_.push_back({Kind::mesh, std::string(), 0});
		}
		else if (inside == "frame")
			parts_.push_back({Kind::frame, std::string(), 0});
		else if (inside.compare(0, 6, "frame:") == 0)
		{
			const std::string digits = inside.substr(6);
			// More than two digits are refused unread: they could only be a width beyond 9.
			const int width = allDigits(digits) && digits.size() <= 2 ? std::stoi(digits) : -1;
			if (width < 1 || width > 9)
				refuse(what, "the width in " + placeholder + " must be a number from 1 to 9");
			parts_.push_back({Kind::frame, std::string(), width});
		}
		else
			refuse(what, "unknown placeholder " + placeholder + " (known: {mesh}, {frame}, {frame:N})");
		i = close + 1;
	}
}

bool NamePattern::hasMesh() const
{
	for (const Part& p : parts_)
		if (p.kind == Kind::mesh)
			return true;
	return false;
}

bool NamePattern::hasFrame() const
{
	for (const Part& p : parts_)
		if (p.kind == Kind::frame)
			return true;
	return false;
}

std::string NamePattern::fill(const std::string& mesh, long long frame) const
{
	std::string out;
	for (const Part& p : parts_)
	{
		if (p.kind == Kind::literal)
			out += p.text;
		else if (p.kind == Kind::mesh)
			out += mesh;
		else
		{
			char buf[32];  // a 64-bit number and a sign in at most 9 digits of padding: never cut
			std::snprintf(buf, sizeof buf, "%0*lld", p.width, frame);
			out += buf;
		}
	}
	return out;
}

bool NamePattern::separates(const std::vector<std::string>& meshes) const
{
	auto separator = [&](char c) {
		if ((c >= '0' && c <= '9') || c == '-')
			return false;  // a frame number may hold it
		for (const std::string& m : meshes)
			if (m.find(c) != std::string::npos)
				return false;
		return true;
	};
	Kind last = Kind::literal;  // the kind of the placeholder before, with nothing between that separates
	for (const Part& p : parts_)
	{
		if (p.kind == Kind::literal)
		{
			for (char c : p.text)
				if (separator(c))
					last = Kind::literal;
			continue;
		}
		if (last != Kind::literal && last != p.kind)
			return false;
		last = p.kind;
	}
	return true;
}

FrameRange::FrameRange(long long first, long long last, long long step) : first_(first), step_(step)
{
	const uint64_t steps = (static_cast<uint64_t>(last) - static_cast<uint64_t>(first)) / static_cast<uint64_t>(step);
	count_ = steps == UINT64_MAX ? UINT64_MAX : steps + 1;
}

long long FrameRange::at(uint64_t k) const
{
	// In unsigned arithmetic, which wraps instead of overflowing; for k below
	// count() the result lies between first and last, so it converts back exactly.
	return static_cast<long long>(static_cast<uint64_t>(first_) + k * static_cast<uint64_t>(step_));
}

platform::FileFacts RunFiles::input(const std::string& option, const std::string& path, Use use)
{
	const std::string what = option + " " + path;
	const platform::FileFacts facts = platform::inspect(path);
	switch (facts.kind)
	{
	case platform::FileKind::missing:
		refuse(what, facts.problem.empty() ? "no such file" : "cannot read: " + facts.problem);
	case platform::FileKind::regular:
		break;
	case platform::FileKind::pipe:
		if (use == Use::streamable)
			break;
		refuse(what, "is a pipe (FIFO); this input is read in pieces and must be a file");
	case platform::FileKind::folder:
		refuse(what, "is a folder, not a file");
	default:
		refuse(what, std::string("is ") + platform::kindName(facts.kind) + ", not a file");
	}
	claim(facts, what, true);
	return facts;
}

void RunFiles::output(const std::string& option, const std::string& path)
{
	const std::string what = option + " " + path;
	// Looked at where it will land: "new/../in.obj" is in.obj once new/ is made.
	const std::string place = placeOf(path);
	const auto named = names_.emplace(place, what);
	if (!named.second)
		refuse(what, "written twice in one run (also as " + named.first->second + ")");
	const platform::FileFacts facts = platform::inspect(place);
	if (facts.kind == platform::FileKind::missing)
	{
		if (!facts.problem.empty())
			refuse(what, "cannot write: " + facts.problem);
		checkFolder(what, place);
		return;
	}
	if (facts.kind == platform::FileKind::folder)
		refuse(what, "is a folder, not a file");
	if (facts.kind == platform::FileKind::regular && facts.readOnly)
		refuse(what, "the file is read-only; it is not replaced");
	claim(facts, what, false);
}

void RunFiles::outputs(const std::string& option, const NamePattern& pattern, const std::vector<std::string>& meshes,
                       const FrameRange& frames)
{
	const std::string what = option + " " + pattern.text();
	if (meshes.size() > 1 && !pattern.hasMesh())
		refuse(what, "several meshes need {mesh} in the output name");
	if (frames.count() > 1 && !pattern.hasFrame())
		refuse(what, "several poses need {frame} in the output name");
	if (pattern.hasMesh())
		for (size_t i = 0; i < meshes.size(); ++i)
			for (size_t j = 0; j < i; ++j)
				if (meshes[i] == meshes[j])
					refuse(what, "two meshes are named '" + meshes[i] + "', so {mesh} gives both one file");
	const uint64_t total = meshes.empty() || frames.count() > kListedOutputs ? frames.count() : frames.count() * meshes.size();
	const bool listed = total <= kListedOutputs;
	if (!listed && meshes.size() > 1 && !pattern.separates(meshes))
		refuse(what, "the names of more than " + std::to_string(kListedOutputs) +
		                 " outputs are not compared one by one: put a character that no mesh name holds (such as '/') "
		                 "between {mesh} and {frame}");
	for (uint64_t k = 0; k < frames.count(); ++k)
		for (const std::string& m : meshes)
		{
			const std::string name = pattern.fill(m, frames.at(k));
			if (listed)
				output(option, name);
			else
			{
				// The pattern keeps the names apart; what each one is on disk is still checked.
				const platform::FileFacts facts = platform::inspect(placeOf(name));
				if (facts.kind != platform::FileKind::missing)
					claim(facts, option + " " + name, false);
			}
		}
}

void RunFiles::claim(const platform::FileFacts& facts, const std::string& what, bool isInput)
{
	const auto found = files_.emplace(std::make_pair(facts.device, facts.inode), Seen{what, isInput});
	if (found.second || (isInput && found.first->second.isInput))
		return;  // one file read twice (a posed cage that is the rest cage) does no harm
	const Seen& other = found.first->second;
	if (!isInput && !other.isInput)
		refuse(what, "the same file as another output, " + other.what);
	refuse(isInput ? other.what : what, "the same file as the input " + (isInput ? what : other.what) + "; it is not written over");
}

void RunFiles::checkFolder(const std::string& what, const std::string& path)
{
	std::string dir = platform::directoryOf(path);
	if (dir.empty() || dir == folderChecked_)
		return;
	folderChecked_ = dir;
	while (!dir.empty())
	{
		const platform::FileFacts facts = platform::inspect(dir);
		if (facts.kind == platform::FileKind::folder)
			return;
		if (facts.kind != platform::FileKind::missing)
			refuse(what, dir + " is " + platform::kindName(facts.kind) + ", not a folder");
		const std::string up = platform::directoryOf(dir);
		if (up == dir)
			return;
		dir = up;
	}
}

bool makeFolderFor(const std::string& path, std::string* error)
{
	const std::string dir = platform::directoryOf(path);
	std::string problem;
	if (dir.empty() || platform::isDirectory(dir) || platform::makeDirectories(dir, &problem))
		return true;
	*error = path + ": cannot make its folder " + dir + ": " + problem;
	return false;
}

}  // namespace mvx
