// Writing a whole file so that it is either complete or not there: the bytes go to a temporary
// file beside the target, are flushed to the disk, and only then take the target's name. A crash,
// a full disk or a cancelled export leaves whatever stood there before untouched.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Raises Exception with a Japanese message naming the file when it cannot be written.
void SaveFileAtomically(const std::string& path, const std::vector<std::uint8_t>& bytes);
