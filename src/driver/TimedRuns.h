// The timed pack and unpack series with their reports.
//
// The measured interval holds nothing but the PackFile or UnpackFile calls:
// the header is written and flushed before the start reading, and sizes,
// texts and statistics are all taken after the end reading.
#pragma once

#include <cstdint>
#include <string>

namespace vorka {

struct TLZFile;

// Packs source into packed runCount times (0 counts as 1) and reports the
// time per run, the speed, both ratios, the resets and the longest fragment,
// or the object's error after the last run. Allows the packed file to be
// replaced.
void PackTimed(TLZFile& file, std::uint16_t runCount, const std::string& sourceName,
               const std::string& packedName);

// Unpacks packed into target runCount times (0 counts as 1) and reports the
// time per run and the speed, or the object's error. Allows the output to be
// replaced, except when it is the file keepName names: then every run fails
// with error 6 and writes nothing (a failed pack keeps the old packed file,
// which would otherwise be unpacked over the file it was meant to check).
void UnpackTimed(TLZFile& file, std::uint16_t runCount, const std::string& packedName,
                 const std::string& targetName, const std::string* keepName = nullptr);

// Spins until the millisecond timer changes; returns the new reading.
std::uint32_t WaitNextTick();

// Size of the named file in bytes; 4294967295 when it cannot be opened (and
// for a size that does not fit 32 bits).
std::uint32_t FileSizeByName(const std::string& name);

}  // namespace vorka
