#include "weights_file.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "cli_host.h"
#include "options.h"
#include "vtnhost/platform.h"

namespace mvx {
namespace {

// Longer than any spelling of a float a person or a program writes.
constexpr size_t kTokenBytes = 64;

bool isBlank(unsigned char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }
bool isText(unsigned char c) { return isBlank(c) || (c >= 0x20 && c < 0x7F); }

std::string byteText(unsigned char c)
{
	char buf[8];
	std::snprintf(buf, sizeof buf, "0x%02X", static_cast<unsigned>(c));
	return buf;
}

}  // namespace

std::vector<float> readWeightsFile(const std::string& path, size_t count)
{
	std::ifstream in(vtnhost::platform::fsPath(path), std::ios::binary);
	if (!in)
		throw Failure{path + ": cannot read it"};
	// A number and its separator in kTokenBytes each, and room for blank lines around.
	const uint64_t budget = (static_cast<uint64_t>(count) + 1) * (kTokenBytes + 2) + 65536;
	std::vector<float> w;
	std::string token;
	uint64_t offset = 0;
	auto finishToken = [&] {
		if (token.empty())
			return;
		if (w.size() == count)
			throw Failure{path + ": more than " + std::to_string(count) + " weights for " + std::to_string(count) + " points"};
		// The deformer would take a NaN or an infinity for 1 and clamp beyond
		// 0 to 1 without a word; a weight outside is a mistake.
		const std::string problem = realProblem(token, kWeightRange);
		if (!problem.empty())
			throw Failure{"--weights " + path + ": weight " + std::to_string(w.size() + 1) + ": " + problem};
		w.push_back(std::strtof(token.c_str(), nullptr));
		token.clear();
	};
	char buf[1 << 16];
	while (in.read(buf, sizeof buf), in.gcount() > 0)
	{
		const size_t got = static_cast<size_t>(in.gcount());
		for (size_t i = 0; i < got; ++i, ++offset)
		{
			const unsigned char c = static_cast<unsigned char>(buf[i]);
			if (!isText(c))
				throw Failure{path + ": not a text file of numbers (byte " + byteText(c) + " at offset " + std::to_string(offset) + ")"};
			if (isBlank(c))
				finishToken();
			else if (token.size() == kTokenBytes)
				throw Failure{path + ": a number of more than " + std::to_string(kTokenBytes) + " characters at offset " +
				              std::to_string(offset - kTokenBytes)};
			else
				token += static_cast<char>(c);
		}
		if (offset > budget)
			throw Failure{path + ": longer than a file of " + std::to_string(count) + " weights can be"};
	}
	if (in.bad())
		throw Failure{path + ": cannot read it"};
	finishToken();
	if (w.size() != count)
		throw Failure{path + ": " + std::to_string(w.size()) + " weights for " + std::to_string(count) + " points"};
	return w;
}

}  // namespace mvx
