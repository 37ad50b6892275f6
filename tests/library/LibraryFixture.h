#pragma once
// A private library folder per test, and the library switched on meanwhile.
#include <gtest/gtest.h>

#include <filesystem>

#include "kit/base/Files.h"
#include "services/Settings.h"

class LibraryFolderFixture : public ::testing::Test {
protected:
    void SetUp() override {
        folder = kit::files::uniqueTempPath("kadrix-library-", "");
        std::filesystem::create_directories(folder);
        services::Settings::shared().setLibEnabled(true);
        services::Settings::shared().setLibLimit(10000);
    }
    void TearDown() override {
        services::Settings::shared().setLibEnabled(false);
        services::Settings::shared().setLibLimit(10000);
        std::filesystem::remove_all(folder);
    }
    std::string folder;
};
