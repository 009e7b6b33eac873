#include "support/temp_folder.h"

#include <filesystem>
#include <random>
#include <stdexcept>

namespace fs = std::filesystem;

std::string makeTemporaryFolder(const std::string& prefix)
{
	std::random_device rd;
	std::mt19937_64 rng((static_cast<uint64_t>(rd()) << 32) ^ rd());
	for (int attempt = 0; attempt < 100; ++attempt)
	{
		const fs::path dir = fs::temp_directory_path() / (prefix + std::to_string(rng() % 1000000000u));
		if (fs::create_directory(dir))
			return dir.string();
	}
	throw std::runtime_error("cannot make a temporary folder");
}

TemporaryFolder::~TemporaryFolder()
{
	std::error_code ec;
	fs::remove_all(path_, ec);
}
