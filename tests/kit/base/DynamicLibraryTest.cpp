#include <gtest/gtest.h>

#include <string>

#include "kit/base/DynamicLibrary.h"

using kit::DynamicLibrary;

namespace {
size_t lines(const std::string& text) {
    size_t n = 0;
    for (char c : text) n += c == '\n';
    return n;
}
}  // namespace

// zlib is linked into every program of ours, so it is there to load.
TEST(DynamicLibrary, LoadsALibraryByItsRuntimeNameAndFindsItsFunctions) {
    testing::internal::CaptureStderr();
    DynamicLibrary lib("libz.so.1");
    const char* (*version)() = nullptr;
    const bool found = lib.find(version, "zlibVersion");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    ASSERT_TRUE(lib.loaded());
    ASSERT_TRUE(found);
    EXPECT_EQ(version()[0], '1');
    void (*none)() = nullptr;
    EXPECT_FALSE(lib.find(none, "kadrixNoSuchFunction"));
    EXPECT_EQ(none, nullptr);
}

// A library that is not installed leaves the feature without it, with the
// loader's reason in the log once, however often its functions are asked for.
TEST(DynamicLibrary, AMissingLibrarySaysWhyOnce) {
    testing::internal::CaptureStderr();
    DynamicLibrary lib("libkadrix-not-installed.so.7");
    void (*fn)() = reinterpret_cast<void (*)()>(&lines);
    for (int i = 0; i < 3; ++i) EXPECT_FALSE(lib.find(fn, "anything"));
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_FALSE(lib.loaded());
    EXPECT_EQ(fn, nullptr);
    EXPECT_EQ(lines(said), 1u) << said;
    EXPECT_NE(said.find("libkadrix-not-installed.so.7: cannot open shared object file"), std::string::npos)
        << said;
}

// An empty name is not the program itself: the program's own symbols (and
// those of every library it links, malloc among them) never stand in for a
// library's.
TEST(DynamicLibrary, AnEmptyNameLoadsNothing) {
    testing::internal::CaptureStderr();
    DynamicLibrary lib("");
    void* (*alloc)(size_t) = nullptr;
    EXPECT_FALSE(lib.find(alloc, "malloc"));
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_FALSE(lib.loaded());
    EXPECT_EQ(lines(said), 1u) << said;
}
