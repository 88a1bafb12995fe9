// A path in the test temporary folder that belongs to this test process, so
// that test programs of two builds run at the same time do not write over each
// other's files.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

inline std::string unit_temp_path(const std::string& name) {
    return ::testing::TempDir() + name + "_" + std::to_string(getpid());
}
