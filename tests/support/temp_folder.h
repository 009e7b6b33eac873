// Folders of the system's temporary folder for tests, removed with their contents.
#ifndef MORVEXER_TESTS_TEMP_FOLDER_H
#define MORVEXER_TESTS_TEMP_FOLDER_H

#include <string>

// A new, empty folder named prefix and a random number; throws when none can be made.
std::string makeTemporaryFolder(const std::string& prefix);

class TemporaryFolder
{
public:
	explicit TemporaryFolder(const std::string& prefix = "morvexer-test-") : path_(makeTemporaryFolder(prefix)) {}
	~TemporaryFolder();
	TemporaryFolder(const TemporaryFolder&) = delete;
	TemporaryFolder& operator=(const TemporaryFolder&) = delete;

	const std::string& path() const { return path_; }

private:
	std::string path_;
};

#endif
