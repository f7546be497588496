#include "Random.h"

namespace tavrin {

std::uint32_t RandSeed = 0;

} // namespace tavrin
