// The files of one run: output name patterns, the frames of a sequence, and
// the plan that checks every input and output before any work is done, so a
// run never writes over what it reads or writes one file twice.
#ifndef MORVEXER_APP_OUTPUTS_H
#define MORVEXER_APP_OUTPUTS_H

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "vtnhost/platform.h"

namespace mvx {

// A name with placeholders: {mesh}, {frame}, and {frame:N}, the frame number
// padded with zeros to N digits (N from 1 to 9: wider numbers gain nothing, and
// a fixed-size spelling could cut them). Any other brace is refused, so a typo
// never passes for a plain name.
class NamePattern
{
public:
	// Throws Failure with one line naming option and text; meshAllowed false
	// refuses {mesh} (a posed cage belongs to no mesh).
	NamePattern(const std::string& option, const std::string& text, bool meshAllowed = true);

	const std::string& text() const { return text_; }
	bool hasMesh() const;
	bool hasFrame() const;
	std::string fill(const std::string& mesh, long long frame) const;
	// True when no two (mesh, frame) pairs can give one name: between every
	// {mesh} and a neighbouring {frame} stands a character that no mesh name
	// and no frame number contains, so each name splits back into its parts.
	bool separates(const std::vector<std::string>& meshes) const;

private:
	enum class Kind
	{
		literal,
		mesh,
		frame
	};
	struct Part
	{
		Kind kind;
		std::string text;  // literal only
		int width;         // frame only; 0: as many digits as it takes
	};
	std::string text_;
	std::vector<Part> parts_;
};

// Frames first, first + step, ... up to last, produced one at a time with
// arithmetic that cannot overflow, whatever the 64-bit bounds.
class FrameRange
{
public:
	FrameRange(long long first, long long last, long long step);  // first <= last, step > 0
	// Saturates at UINT64_MAX (every 64-bit frame, step 1).
	uint64_t count() const { return count_; }
	long long at(uint64_t k) const;

private:
	long long first_, step_;
	uint64_t count_;
};

// Bytes read at most from a pipe given as an OBJ or weights input: a file says
// how large it is, a pipe does not, and one that never ends must not fill memory.
constexpr uint64_t kPipeBytes = uint64_t(1) << 30;
// Bytes a posed cage of this many points may take: its v lines and whatever
// else an OBJ of the cage carries (faces, uvs, normals, comments), generously.
// A larger file is refused unread beyond it.
constexpr uint64_t posedCageBytes(uint64_t points) { return (uint64_t(1) << 20) + points * 1024; }
// Up to this many outputs of a run, every name is listed and compared; beyond
// it the pattern must separate its parts (see NamePattern::separates).
constexpr uint64_t kListedOutputs = 100000;

class RunFiles
{
public:
	enum class Use
	{
		streamable,  // read from start to end once: a pipe will do
		fileOnly,    // read at offsets or mapped: only a file
	};
	// Refuses (Failure naming option and path) a missing input, a folder, a
	// device, and a pipe where a file is needed; remembers the file, so no
	// output may be it. Returns what it found.
	vtnhost::platform::FileFacts input(const std::string& option, const std::string& path, Use use);
	// Refuses an output that is an input or an output of this run already,
	// under any spelling or link; one that is a folder, or read-only; one whose
	// folder cannot be (a file stands in its way).
	void output(const std::string& option, const std::string& path);
	// Every output of a sequence: each mesh (by the name it fills in) at each
	// frame. Several meshes need {mesh} and several frames {frame}.
	void outputs(const std::string& option, const NamePattern& pattern, const std::vector<std::string>& meshes, const FrameRange& frames);

private:
	struct Seen
	{
		std::string what;  // option and path, as a message names it
		bool isInput;
	};
	void claim(const vtnhost::platform::FileFacts& facts, const std::string& what, bool isInput);
	void checkFolder(const std::string& what, const std::string& path);

	std::map<std::pair<uint64_t, uint64_t>, Seen> files_;  // by device and inode
	std::map<std::string, std::string> names_;            // output names so far, with what wrote them
	std::string folderChecked_;
};

// Makes the folder that path goes into, when missing; false with the reason.
bool makeFolderFor(const std::string& path, std::string* error);

}  // namespace mvx

#endif
