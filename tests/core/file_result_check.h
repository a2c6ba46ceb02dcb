// Checks of file operations' outcomes (core/file_error.h) for the tests.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "core/file_error.h"

// A file operation that must succeed: on failure the assertion shows its message.
inline ::testing::AssertionResult succeeded(const file_result& result) {
  if (result) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "failed: " << result.message();
}

// The message of a file operation that must fail (a test failure when it succeeded).
inline std::string failure_of(const file_result& result) {
  EXPECT_FALSE(result.ok()) << "succeeded where it should have failed";
  return result.message();
}
