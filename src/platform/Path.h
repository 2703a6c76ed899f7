// Path delimiters of the file names the program is given. The command line's
// names and the name stored in a packed file are split and joined with these
// rules only, so the rest of the program never knows which system it runs on.
#pragma once

#include <cstddef>
#include <string>

namespace vorka::platform {

// The delimiter put between a folder and a name ("/" here, "\" on Windows).
char JoinDelimiter();

// True for a character that ends a folder part of a name: "/" here; "\" and
// the ":" of a drive on Windows.
bool IsPathDelimiter(char c);

// True when the name holds a path part, that is any delimiter.
bool HoldsPathPart(const std::string& name);

// Position just after the last delimiter of the name; 0 when it has none.
// The text from there on is the bare file name, the text before it the
// folder part, delimiter included.
std::size_t NameStart(const std::string& name);

// The longest file name the command line takes: 4095 bytes here, the longest
// path the system opens; 255 characters on Windows. A name is never cut, since
// a cut name can be another, existing file's name; a longer one is refused.
std::size_t MaxNameLength();

}  // namespace vorka::platform
