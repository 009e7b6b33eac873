// Writes the arguments it was started with, as the host's platform layer reads
// them, one after another and each closed by a NUL, into the file named first.
// Usage: morvexer_args_echo OUT [ARGUMENTS...]
#include <string>

#include "vtnhost/platform.h"

int main(int argc, char** argv)
{
	const std::vector<std::string> args = vtnhost::platform::arguments(argc, argv);
	if (args.size() < 2)
		return 2;
	std::string out;
	for (size_t i = 2; i < args.size(); ++i)
		out += args[i] + '\0';
	std::string problem;
	return vtnhost::platform::writeFileAtomic(args[1], out, &problem) ? 0 : 1;
}
