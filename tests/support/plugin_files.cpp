#include "support/plugin_files.h"

#include <filesystem>
#include <fstream>

#include "support/temp_folder.h"

namespace fs = std::filesystem;

PluginCopy::PluginCopy()
{
	dir_ = makeTemporaryFolder("morvexer-plugin-");
	const fs::path module(builtPluginPath());
	fs::copy_file(module, fs::path(dir_) / module.filename());
	fs::copy(module.parent_path() / "res", fs::path(dir_) / "res", fs::copy_options::recursive);
}

PluginCopy::~PluginCopy()
{
	std::error_code ec;
	fs::remove_all(dir_, ec);
}

std::string PluginCopy::modulePath() const { return (fs::path(dir_) / fs::path(builtPluginPath()).filename()).string(); }

void PluginCopy::remove(const std::string& relative) const { fs::remove_all(fs::path(dir_) / relative); }

void PluginCopy::write(const std::string& relative, const std::string& content) const
{
	std::ofstream(fs::path(dir_) / relative, std::ios::binary) << content;
}
