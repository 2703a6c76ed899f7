// Facts about the running process that the driver needs.
#pragma once

#include <string>

namespace vorka::platform {

// Full path of the running executable with symbolic links resolved (so a
// link to the program gives the program's real folder); empty when it
// cannot be found out.
std::string ExecutablePath();

}  // namespace vorka::platform
