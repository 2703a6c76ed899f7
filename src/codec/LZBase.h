// The codec's one exception: an internal fault such as a reset without a
// dictionary. Nothing in the system catches it; it ends the program.
#pragma once

#include <cstdint>
#include <stdexcept>

namespace vorka {

class ERunError : public std::runtime_error {
public:
  explicit ERunError(std::uint8_t code);
  std::uint8_t RunErrorCode;
};

// Throws ERunError with the code; does nothing for code 0.
void RaiseRunError(std::uint8_t code);

inline constexpr std::uint8_t reNoDictionary = 201;

}  // namespace vorka
