#pragma once
// A decoder program that takes its time: a script in a scratch folder that
// sleeps, then runs the real decoder beside the test program. While it
// sleeps, the main thread waits with its event loop running, as it does for
// a large picture on a busy machine, so what a user does meanwhile happens
// during the wait. The real decoder is back when the scope ends.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "kit/base/Files.h"
#include "kit/image/ImageIO.h"

namespace testsupport {

class SlowDecoder {
public:
    explicit SlowDecoder(double seconds) : folder_(kit::files::uniqueTempPath("slow-decoder-", "")) {
        std::filesystem::create_directories(folder_);
        const auto real = std::filesystem::read_symlink("/proc/self/exe").parent_path() / "kadrix-decode";
        const std::string script = folder_ + "/kadrix-decode";
        std::ofstream(script) << "#!/bin/sh\nsleep " << seconds << "\nexec '" << real.string()
                              << "' \"$@\"\n";
        ::chmod(script.c_str(), 0700);
        kit::ImageIO::setDecoderProgram(script);
    }
    ~SlowDecoder() {
        kit::ImageIO::setDecoderProgram("");
        std::filesystem::remove_all(folder_);
    }
    SlowDecoder(const SlowDecoder&) = delete;
    SlowDecoder& operator=(const SlowDecoder&) = delete;

private:
    std::string folder_;
};

}  // namespace testsupport
