#pragma once
#include <chrono>
#include <string>
#include <string_view>

// The decoder program's side of decoding a picture from outside (see
// ImageIO.h): run as `kadrix-decode`, it reads the picture on its standard
// input, writes the pixels to descriptor 3 and its answer to its standard
// output, under limits it sets itself before it reads a byte.
//
//   kadrix-decode --parent PID [--max-side N] [--texts] [--seconds N] [--memory BYTES]
//                 [--no-file-rules]
//
// The answer is one line, "ok WIDTH HEIGHT ORIGINAL-WIDTH ORIGINAL-HEIGHT"
// followed (with --texts) by the picture's texts as key and value each ended
// by a zero byte, or "no " and the code of its reason (DecoderAnswer.h). The pixels are
// premultiplied B, G, R, A rows of WIDTH × 4 bytes, top row first.
namespace kit::ImageIO {

int runDecoder(int argc, char** argv);

// The steps of the decoder's confinement that can fail, as they are taken.
// The decoder's answer names the step by its number and this program's log
// by its name, both from this one table (the two are built together).
enum class ConfinementStep : int {
    none = 0,  // no step failed: the caller has ended, or is not its parent
    leaveTerminal,
    bindToCaller,
    givePrivilegesUp,
    makeFileRules,
    applyFileRules,
    namespaces,  // the kernel refused it the namespace for a root of its own
    countOpenFiles,
    holdPlacesOpen,
    raiseOpenFiles,
    mapUserNamespace,
    openPlace,
    ownMounts,
    makeRoot,
    putPlace,
    bindPlace,
    putLink,
    rootReadOnly,
    placeReadOnly,
    moveIntoRoot,
    letGoOfOldRoot,
    lowerOpenFiles,
    limitOpenFiles,
    becomeUndumpable,
    readCapabilities,
    dropCapabilities,
    startThreads,
    filterSystemCalls,
    noFilterForProcessor,
    count  // not a step: one past the last
};
// The step as the log says it ("a place could not be bound into its root");
// empty for none.
std::string_view confinementStepName(ConfinementStep step);

// Shuts the calling process in as the decoder is before it reads a byte of
// the picture: a process session of its own, ended with `parent` (the
// program that asked for the picture, which must be its parent), not
// dumpable, reading files only where the decoding libraries keep theirs
// (Landlock where the kernel has it, else a root of its own where the
// kernel allows the namespaces), no capability, and a system-call filter
// that lets through only the calls decoding makes, on the process itself.
// It leaves kDecoderThreads threads of the toolkit's pool running, and no
// more can be started. Call it with one thread running. Empty when it holds, else why it could
// not be done: then nothing may be decoded (on a processor with no filter,
// always).
//
// Without Landlock the root of its own is made whole or the confinement
// fails; the decoder goes without one only when `noFileRulesHere` (the
// program found this machine allows no namespace: missingConfinement) and
// the kernel refuses it one too. `error` gets the step that failed and the
// kernel's reason.
struct ConfinementError {
    ConfinementStep step = ConfinementStep::none;
    int number = 0;  // the kernel's reason, 0 for a step that has none
};
std::string confineDecoder(int parent, bool noFileRulesHere = false, ConfinementError* error = nullptr);

// The threads decoding may have beside the one that decodes: those of the
// toolkit's pool, which converts and scales large pictures in bands. More
// would gain little on the memory-bound work; none would leave a large
// picture to one core.
inline constexpr int kDecoderThreads = 4;

// What of the decoder's confinement this machine cannot give, in a line
// written to the log the first time it is found: empty when it all holds.
// Tried once (in a child process, given `probeBound` to answer).
std::string missingConfinement(std::chrono::milliseconds probeBound = std::chrono::seconds(2));

// The environment variable by which a test has the decoder act as on a
// kernel without "landlock" (and without "namespaces" when it says so too).
// Honoured by every build (the tests run on the build that ships), and said
// once in the log whenever it is set.
inline constexpr const char* kSimulatedKernelWithout = "KADRIX_TEST_KERNEL_WITHOUT";

}  // namespace kit::ImageIO
