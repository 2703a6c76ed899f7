// Standard output and standard input as raw bytes. The driver keeps its own
// buffer and hands whole pieces here; nothing in this layer buffers or
// converts.
#pragma once

#include <cstddef>
#include <string>

namespace vorka::platform {

// Writes all size bytes to standard output, retrying short and interrupted
// writes. Returns false when the output is gone (closed pipe, full disk);
// the bytes are then lost, which is all a console program can do.
bool WriteStdout(const char* data, std::size_t size);

// Reads standard input up to and including the next line end, or to the end
// of input. Returns false when nothing at all could be read.
bool ReadStdinLine(std::string& line);

// Whether standard input is a terminal (a console in the Windows build): the
// only input the program may take a line of for itself. A pipe or a file
// belongs to whoever started the program.
bool StdinIsTerminal();

}  // namespace vorka::platform
