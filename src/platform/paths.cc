#include "platform/paths.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>

namespace capwap {

std::string RootPrefix() {
  const char* root = std::getenv("CAPWAP_ROOT");
  if (!root || !*root) return {};
  std::string prefix(root);
  while (prefix.size() > 1 && prefix.back() == '/') prefix.pop_back();
  return prefix == "/" ? std::string{} : prefix;
}

std::string RootPath(std::string_view abs_path) {
  std::string prefix = RootPrefix();
  if (prefix.empty() || abs_path.empty() || abs_path.front() != '/') return std::string(abs_path);
  return prefix + std::string(abs_path);
}

uint16_t CapwapPort(uint16_t default_port) {
  const char* base = std::getenv("CAPWAP_PORT_BASE");
  if (!base || !*base) return default_port;
  char* end = nullptr;
  unsigned long value = std::strtoul(base, &end, 10);
  if (*end != '\0' || value == 0 || value + 2 > 65535) return default_port;
  return static_cast<uint16_t>(value + (default_port - kControlPort));
}

bool MakeDirs(const std::string& dir) {
  if (dir.empty()) return true;
  std::string partial;
  size_t pos = 0;
  while (pos != std::string::npos) {
    pos = dir.find('/', pos + 1);
    partial = dir.substr(0, pos);
    if (partial.empty()) continue;
    if (mkdir(partial.c_str(), 0777) != 0 && errno != EEXIST) return false;
  }
  return true;
}

bool MakeParentDirs(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos || slash == 0) return true;
  return MakeDirs(path.substr(0, slash));
}

}  // namespace capwap
