// The answers of an aria2 daemon to system.multicall: whatever the body, the reader gives
// one answer per call or none, and a refused secret is never taken for answers.
#include <string_view>

#include "FuzzCheck.h"
#include "download/Aria2Rpc.h"

using namespace brenvik;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) {
        return 0;
    }
    const std::size_t calls = data[0] % 8;
    const std::string_view body(reinterpret_cast<const char*>(data + 1), size - 1);
    const MulticallAnswer read = ReadMulticallAnswer(body, calls);
    FUZZ_CHECK(read.answers.empty() || read.answers.size() == calls, "one answer per call");
    FUZZ_CHECK(read.fault.empty() || read.answers.empty(), "a fault brings no answers");
    return 0;
}
