#include "LZBase.h"

#include <string>

namespace vorka {

ERunError::ERunError(std::uint8_t code)
    : std::runtime_error("RunError(" + std::to_string(code) + ")"), RunErrorCode(code) {}

void RaiseRunError(std::uint8_t code) {
  if (code != 0) throw ERunError(code);
}

}  // namespace vorka
