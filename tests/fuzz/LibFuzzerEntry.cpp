// The harness bodies under libFuzzer, for long local runs (tests/fuzz/run --libfuzzer).
// KADRIX_FUZZ_HARNESS names the harness. In the GoogleTest build nothing calls
// this entry; the libFuzzer build links it as its input source.
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "fuzz/FuzzHarnesses.h"
#include "kit/ui/Application.h"

// Objects and images need the toolkit's application, as under the test main.
// The ends the fuzzer watches stay its own: the application's way out would
// end a run asked to stop (or timed out) as if it had passed.
extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    static kit::Application app(*argc, *argv);
    for (int sig : {SIGINT, SIGTERM}) std::signal(sig, SIG_DFL);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const fuzzing::Harness* harness = [] {
        const char* name = std::getenv("KADRIX_FUZZ_HARNESS");
        const fuzzing::Harness* found = fuzzing::harnessNamed(name ? name : "");
        if (!found) {
            std::fprintf(stderr, "KADRIX_FUZZ_HARNESS names no harness\n");
            std::abort();
        }
        return found;
    }();
    harness->run(std::string(reinterpret_cast<const char*>(data), size));
    return 0;
}
