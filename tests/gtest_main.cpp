// Test entry point: unbuffered output so a hung test still shows how far it got.
#include <gtest/gtest.h>

#include <cstdio>

int main(int argc, char** argv) {
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
