#include <gtest/gtest.h>

#include <filesystem>

#include "tests/support/TestSupport.h"

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    // Nothing of the developer's own profile reaches a test: the home folder, the configuration
    // folder and the registry file all point into a scratch folder (tests that need them set
    // their own on top). The registry file does not exist: every switch reads as unset.
    kvsdk::test::TempDir scratch;
    std::filesystem::create_directory(scratch / "home");
    std::filesystem::create_directory(scratch / "config");
    kvsdk::test::SetEnv("HOME", kvsdk::test::NativePath(scratch / "home"));
    kvsdk::test::SetEnv("XDG_CONFIG_HOME", kvsdk::test::NativePath(scratch / "config"));
    kvsdk::test::SetEnv("KVSDK_REGISTRY", kvsdk::test::NativePath(scratch / "registry.reg"));
    return RUN_ALL_TESTS();
}
