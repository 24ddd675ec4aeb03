#include "input/installed.hpp"

#include <dirent.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace vorn {

std::vector<std::string> share_dirs(const std::vector<std::string>& given) {
  if (const char* share = std::getenv("VORN_SHARE"); share && *share) return {share};
  if (!given.empty()) return given;
  std::vector<std::string> dirs;
  // Installed: bin/vorn beside share/vorn; in the build tree: share/vorn beside the program.
  char self[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  if (n > 0) {
    const std::string exe(self, static_cast<size_t>(n));
    const std::string dir = exe.substr(0, exe.find_last_of('/'));
    dirs.push_back(dir.substr(0, dir.find_last_of('/')) + "/share/vorn");
    dirs.push_back(dir + "/share/vorn");
  }
  return dirs;
}

std::string viewer_script(const std::vector<std::string>& dirs, std::string& why) {
  for (const std::string& d : dirs) {
    std::ifstream f(d + "/3Dmol-min.js", std::ios::binary);
    if (!f) continue;
    std::ostringstream text;
    text << f.rdbuf();
    if (f.bad() || text.str().empty()) continue;
    return text.str();
  }
  std::string looked;
  for (const std::string& d : dirs) looked += (looked.empty() ? "" : " and ") + d;
  why = "the viewer's script 3Dmol-min.js is not installed (looked in " + looked +
        "): run scripts/deps.sh, then build again or cmake --install";
  return "";
}

namespace {

constexpr const char* kMatrixSuffix = ".raw";

std::string lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

}  // namespace

std::vector<std::string> shipped_matrices(const std::vector<std::string>& dirs) {
  std::vector<std::string> names;
  for (const std::string& d : dirs) {
    DIR* dir = opendir((d + "/matrices").c_str());
    if (!dir) continue;
    while (const dirent* e = readdir(dir)) {
      const std::string f = e->d_name;
      const size_t k = f.size() - std::string(kMatrixSuffix).size();
      if (f.size() > 4 && f.compare(k, std::string::npos, kMatrixSuffix) == 0 && lower(f) == f) names.push_back(f.substr(0, k));
    }
    closedir(dir);
  }
  std::sort(names.begin(), names.end());
  names.erase(std::unique(names.begin(), names.end()), names.end());
  return names;
}

std::string shipped_matrix(const std::string& name, const std::vector<std::string>& dirs) {
  const std::vector<std::string> known = shipped_matrices(dirs);
  if (std::find(known.begin(), known.end(), lower(name)) == known.end()) return "";
  for (const std::string& d : dirs) {
    const std::string path = d + "/matrices/" + lower(name) + kMatrixSuffix;
    if (access(path.c_str(), R_OK) == 0) return path;
  }
  return "";
}

}  // namespace vorn
