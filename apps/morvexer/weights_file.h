// Restriction weights from a text file: one number per mesh point.
#ifndef MORVEXER_APP_WEIGHTS_FILE_H
#define MORVEXER_APP_WEIGHTS_FILE_H

#include <string>
#include <vector>

namespace mvx {

// The count numbers of the file at path, separated by blanks or line breaks.
// Reads no further than count numbers can take, so a file that never ends (a
// pipe, an endless generator) or holds far more stops at once; a file with
// bytes a text of numbers never holds is refused without showing them. Throws
// Failure naming path.
std::vector<float> readWeightsFile(const std::string& path, size_t count);

}  // namespace mvx

#endif
