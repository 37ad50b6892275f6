#pragma once
// The fuzz harnesses: one body per parser that takes bytes from outside
// (links, upload replies, library lines, settings and shortcut storage,
// file-name templates, image files). A body feeds one input to the real
// code and throws or aborts when a promise breaks; it never asserts through
// a test framework, so the same bodies run under GoogleTest (the seeded
// pass, FuzzPassTest.cpp) and under libFuzzer (LibFuzzerEntry.cpp).
#include <functional>
#include <string>
#include <vector>

namespace fuzzing {

struct Harness {
    std::string name;  // also the name of its seed folder under tests/fuzz/corpus
    std::function<void(const std::string& input)> run;
};

const std::vector<Harness>& harnesses();
const Harness* harnessNamed(const std::string& name);

}  // namespace fuzzing
