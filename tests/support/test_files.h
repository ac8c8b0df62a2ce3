// Whole-file reading and writing for tests that check what a program wrote.
#pragma once

#include <string>

namespace quillo::test {

// Reads the file's bytes into `contents`. False (and `contents` empty) when it cannot be read.
bool ReadWholeFile(const std::string& path, std::string& contents);
// The file's bytes, or an empty string when it cannot be read.
std::string ReadWholeFile(const std::string& path);
// Creates or replaces the file with `contents`. False when it cannot be written.
bool WriteWholeFile(const std::string& path, const std::string& contents);

}  // namespace quillo::test
