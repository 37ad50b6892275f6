// The libraries loaded on first use (libcurl, the recognition engine,
// libcrypto), each hidden behind an empty library of its name placed first
// on the loader's path. The loader reads that path when a program starts, so
// the cases run in a child run of this test program.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "kit/base/Crypto.h"
#include "kit/base/Http.h"
#include "kit/base/Image.h"
#include "kit/image/TextRecognizer.h"
#include "support/ScratchFolder.h"

using namespace kit;

namespace {

constexpr const char* kChild = "KADRIX_HIDDEN_LIBRARIES_CHILD";

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// What the child checks: every attempt fails, and says why in the loader's
// words (the stub is there, but holds none of the functions).
void checkWithTheLibrariesHidden() {
    for (int attempt = 1; attempt <= 2; ++attempt) {
        http::Request request;
        request.url = "http://127.0.0.1:9/";
        request.timeoutSeconds = 2;
        const http::Response reply = http::sendSync(request);
        ASSERT_TRUE(reply.error) << "attempt " << attempt;
        EXPECT_TRUE(
            contains(reply.error->fullDescription, "the network library cannot be loaded: ") &&
            contains(reply.error->fullDescription, "libcurl.so.4: undefined symbol: curl_global_init"))
            << reply.error->fullDescription;

        Image page(64, 32);
        page.fill(Color::white(1));
        TextRecognitionRequest ocr;
        ocr.languages = {"en-US"};
        const TextRecognitionResult read = TextRecognizer::recognize(page, ocr);
        if (TextRecognizer::hasData("en-US")) {
            EXPECT_FALSE(read.ok());
            EXPECT_TRUE(contains(read.error, "libtesseract.so.5: undefined symbol: TessBaseAPICreate"))
                << read.error;
        }

        // Sealing cannot work without libcrypto; it fails and says so by its
        // result alone, as digests (by another library) still work.
        const crypto::Bytes key(32, 7);
        const std::string plain = "a line of the library";
        EXPECT_FALSE(
            crypto::seal(key, std::span(reinterpret_cast<const uint8_t*>(plain.data()), plain.size())));
        EXPECT_EQ(crypto::toHex(crypto::sha256("abc")).substr(0, 8), "ba7816bf");
    }
}

}  // namespace

TEST(LoadedOnFirstUse, AHiddenLibraryFailsEveryAttemptWithTheLoadersReason) {
    if (std::getenv(kChild)) {
        checkWithTheLibrariesHidden();
        return;
    }
    namespace fs = std::filesystem;
    testsupport::ScratchFolder scratch;
    const fs::path stubs = scratch.path();
    for (const char* name : {"libcurl.so.4", "libtesseract.so.5", "libcrypto.so.3"}) {
        const std::string make = "cc -shared -x c /dev/null -Wl,-soname," + std::string(name) + " -o '" +
                                 (stubs / name).string() + "' 2>/dev/null";
        if (std::system(make.c_str()) != 0) {
            GTEST_SKIP() << "no C compiler to make the stub libraries";
        }
    }
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        setenv(kChild, "1", 1);
        setenv("LD_LIBRARY_PATH", stubs.c_str(), 1);
        const std::string filter = "--gtest_filter=LoadedOnFirstUse.*";
        execl("/proc/self/exe", "test_kit", filter.c_str(), "--gtest_brief=1", static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
        << "the checks with the libraries hidden failed";
}
