// libFuzzer entry point; the work is in the harness the regression tests share.
#include "fuzz/harness.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    tolvan::fuzz::requireClean(tolvan::fuzz::runExchange(data, size));
    return 0;
}
