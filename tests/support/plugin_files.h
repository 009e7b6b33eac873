// Test helpers around the built plug-in module on disk.
#ifndef MORVEXER_TESTS_PLUGIN_FILES_H
#define MORVEXER_TESTS_PLUGIN_FILES_H

#include <string>

// The built module, with its res/ folder beside it.
inline std::string builtPluginPath() { return MORVEXER_PLUGIN_PATH; }

// A private copy of the module and its res/ folder in a fresh directory, so a
// test can remove or damage files; the directory goes with the object.
class PluginCopy
{
public:
	PluginCopy();
	~PluginCopy();
	PluginCopy(const PluginCopy&) = delete;
	PluginCopy& operator=(const PluginCopy&) = delete;

	const std::string& dir() const { return dir_; }
	std::string modulePath() const;
	// Removes a file or folder below the copy, e.g. "res/morvexericons.tif".
	void remove(const std::string& relative) const;
	void write(const std::string& relative, const std::string& content) const;

private:
	std::string dir_;
};

#endif
