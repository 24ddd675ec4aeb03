// Files shipped with vorn and installed beside the program (share/vorn): the
// page's 3D viewer and the substitution matrices known by name.
#pragma once

#include <string>
#include <vector>

namespace vorn {

// Where they are looked for, in order: VORN_SHARE when set (whatever the face,
// so that one setting serves the command line and Python alike); else the
// caller's own folders (Python's: its package); else share/vorn beside the
// program's folder (installed) and inside it (the build tree).
std::vector<std::string> share_dirs(const std::vector<std::string>& given = {});

// The viewer's script (3Dmol.js); empty, with the reason in why, when absent.
std::string viewer_script(const std::vector<std::string>& dirs, std::string& why);

// The names of the shipped matrices (blosum45, blosum62, pam250) found in
// dirs/matrices, sorted; and the file of one of them by its name in any case,
// or "" when name is none of them.
std::vector<std::string> shipped_matrices(const std::vector<std::string>& dirs);
std::string shipped_matrix(const std::string& name, const std::vector<std::string>& dirs);

}  // namespace vorn
