// The whole of a file as text.
#pragma once

#include <fstream>
#include <sstream>
#include <string>

namespace capwap::test {

// "" when the file cannot be read.
inline std::string FileText(const std::string& path) {
  std::stringstream text;
  text << std::ifstream(path, std::ios::binary).rdbuf();
  return text.str();
}

}  // namespace capwap::test
