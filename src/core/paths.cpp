#include "core/paths.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <vector>

namespace fs = std::filesystem;

namespace {
bool Exists(const std::string& path) {
  struct stat st;
  return !path.empty() && ::lstat(path.c_str(), &st) == 0;
}

bool IsDirectory(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string EnvOr(const char* name, const std::string& fallback) {
  const char* value = std::getenv(name);
  return (value && *value) ? std::string(value) : fallback;
}

std::string WithSlash(std::string dir) {
  if (!dir.empty() && dir.back() != '/') dir += '/';
  return dir;
}

char ToUpper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

// The entry of dir whose name equals name without regard to case; the
// smallest such name when several do, so the choice does not depend on the
// directory's order.
std::string FindEntry(const std::string& dir, const std::string& name) {
  std::error_code ec;
  fs::directory_iterator it(dir.empty() ? "." : dir, ec);
  std::string best;
  for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
    const std::string entry = it->path().filename().string();
    if (!EqualsIgnoreCase(entry, name)) continue;
    if (best.empty() || entry < best) best = entry;
  }
  return best;
}
}  // namespace

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (ToUpper(a[i]) != ToUpper(b[i])) return false;
  }
  return true;
}

std::string UpperCase(std::string_view text) {
  std::string result(text);
  std::transform(result.begin(), result.end(), result.begin(), ToUpper);
  return result;
}

std::string DefaultProgramDirectory(bool create) {
  std::string dir = EnvOr("QELWIN_HOME", "");
  if (dir.empty()) {
    const std::string home = EnvOr("HOME", ".");
    dir = EnvOr("XDG_DATA_HOME", home + "/.local/share") + "/QelWin";
  }
  if (create) {
    std::error_code ec;
    fs::create_directories(dir, ec);
  }
  return WithSlash(dir);
}

std::string BundledDataDirectory() {
  std::error_code ec;
  const fs::path program = fs::read_symlink("/proc/self/exe", ec);
  if (ec) return {};
  return (program.parent_path().parent_path() / "share" / "qelwin").string() + "/";
}

std::string DefaultDriveRoot() { return EnvOr("QELWIN_DRIVE_ROOT", EnvOr("HOME", "/")); }

std::string MatchCaseInsensitive(const std::string& path) {
  if (path.empty() || Exists(path)) return path;
  std::string result;
  std::size_t pos = 0;
  if (path[0] == '/') {
    result = "/";
    pos = 1;
  }
  bool matching = true;  // once a component is missing, the rest cannot exist either
  while (pos <= path.size()) {
    std::size_t end = path.find('/', pos);
    if (end == std::string::npos) end = path.size();
    const std::string component = path.substr(pos, end - pos);
    pos = end + 1;
    if (component.empty()) {
      if (end < path.size() && !result.empty() && result.back() != '/') result += '/';
      continue;
    }
    std::string candidate = result + component;
    if (matching && !Exists(candidate) && component != "." && component != "..") {
      const std::string found = FindEntry(result, component);
      if (found.empty()) {
        matching = false;
      } else {
        candidate = result + found;
      }
    }
    result = candidate;
    if (end < path.size()) result += '/';
  }
  return result;
}

std::string NativeFileName(std::string_view name, const std::string& driveRoot) {
  std::string path(name);
  if (path.empty() || Exists(path)) return path;
  std::replace(path.begin(), path.end(), '\\', '/');
  if (path.size() >= 2 && path[1] == ':' &&
      ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z'))) {
    std::string root = WithSlash(driveRoot.empty() ? std::string("/") : driveRoot);
    const std::string letterDir = FindEntry(root, std::string(1, path[0]));
    if (!letterDir.empty() && IsDirectory(root + letterDir)) root += letterDir + '/';
    std::size_t rest = 2;
    while (rest < path.size() && path[rest] == '/') ++rest;
    path = root + path.substr(rest);
  }
  return MatchCaseInsensitive(path);
}

std::string NativeFileName(std::string_view name) { return NativeFileName(name, DefaultDriveRoot()); }

std::string FileNamePart(std::string_view name) {
  const std::size_t separator = name.find_last_of("/\\:");
  return std::string(separator == std::string_view::npos ? name : name.substr(separator + 1));
}
