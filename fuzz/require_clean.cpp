#include <cstdio>
#include <cstdlib>

#include "fuzz/harness.h"

namespace tolvan::fuzz {

void requireClean(const Outcome& outcome)
{
    if (outcome.violation.empty())
        return;
    std::fprintf(stderr, "invariant broken: %s\n", outcome.violation.c_str());
    std::abort();
}

}  // namespace tolvan::fuzz
