// The whole-file reader every file function uses: one set of error codes for a file that is
// missing, not a regular file, too large or unreadable.
#pragma once

#include <cstdint>
#include <vector>

namespace lt {

// Reads a regular file into `out`. ERROR_INV_FILENAME for an empty path, ERROR_FILENOTFOUND
// when it does not exist, ERROR_FILE_OPEN when it cannot be opened or is not a regular file,
// ERROR_NO_MEMORY when it is larger than any supported image needs, ERROR_FILE_READ when
// reading fails or the file shrinks meanwhile.
int ReadWholeFile(const char* path, std::vector<uint8_t>& out);

} // namespace lt
