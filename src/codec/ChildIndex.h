// The program's child index: the one place that chooses between the two.
// Both are compiled into every build and tested there; the choice only
// decides which one TLZCodec packs with.
#pragma once

#include "ChildTrees.h"
#include "HashIndex.h"

namespace vorka {

#if defined(VORKA_CHILD_INDEX_HASH) && VORKA_CHILD_INDEX_HASH
using TChildIndex = THashIndex;
#else
using TChildIndex = TChildTrees;
#endif

}  // namespace vorka
