// Arbitrary bytes as a packed file for UnpackMemory, which takes its
// dictionary size and fragment limit from the header. The input is handed
// over at its exact length (the replay program too passes an exact copy), so
// the sanitizer catches any read outside it. Checked on every run:
//   - only the codes that unpacking can give are reported;
//   - a refused header decodes nothing;
//   - success means exactly Size bytes (none for a Size of 0 or below);
//   - a second call on the same bytes gives the same code and bytes;
//   - what decoded without error packs and unpacks again to the same bytes
//     with the header's settings (for dictionaries of up to 65536 entries,
//     which keep each run quick).
#include <cstdint>
#include <vector>

#include "FuzzCommon.h"
#include "Vorka.h"
#include "lzfile/LZFile.h"
#include "lzfile/LZFormat.h"

namespace {

namespace fmt = vorka::lzformat;

bool HeaderRefused(int code) { return code == 14 || code == 15 || code == 18 || code == 20 || code == 21; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<std::uint8_t> plain;
  const int code = vorka::UnpackMemory(data, size, plain);
  VORKA_FUZZ_CHECK(code == 0 || code == 11 || code == 24 || code == 25 || HeaderRefused(code));
  if (HeaderRefused(code)) {
    VORKA_FUZZ_CHECK(plain.empty());
    return 0;
  }
  // Past the header, so its fields were there to be read.
  VORKA_FUZZ_CHECK(size >= fmt::HeadFixedSize + fmt::InfoPartSize(0));
  const auto claimed = static_cast<std::int32_t>(fmt::Get32(data + fmt::HeadFixedSize + fmt::InfoOffSize));
  const std::size_t owed = claimed > 0 ? static_cast<std::size_t>(claimed) : 0;
  VORKA_FUZZ_CHECK(code == 0 ? plain.size() == owed : plain.size() <= owed);

  std::vector<std::uint8_t> again = {1};
  VORKA_FUZZ_CHECK(vorka::UnpackMemory(data, size, again) == code);
  VORKA_FUZZ_CHECK(again == plain);

  const std::uint32_t dicSize = fmt::Get32(data + fmt::OffDicSize);
  const std::uint32_t maxFrag = fmt::Get32(data + fmt::OffMaxFrag);
  if (code == 0 && dicSize <= (1u << 16)) {
    std::vector<std::uint8_t> packed;
    VORKA_FUZZ_CHECK(vorka::PackMemory(plain.data(), static_cast<std::uint32_t>(plain.size()), packed, dicSize,
                                       maxFrag) == 0);
    VORKA_FUZZ_CHECK(packed.size() <= vorka::PackedSizeBound(static_cast<std::uint32_t>(plain.size())));
    std::vector<std::uint8_t> back;
    VORKA_FUZZ_CHECK(vorka::UnpackMemory(packed.data(), packed.size(), back) == 0);
    VORKA_FUZZ_CHECK(back == plain);
  }
  return 0;
}
