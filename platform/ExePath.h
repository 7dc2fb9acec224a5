// Where the running executable lies. Configuration files live beside it.
#pragma once

#include <string>

namespace qvr {

// Full path of the running executable (from /proc/self/exe); empty when the
// system cannot tell.
std::string ExecutablePath();

// The folder of the running executable with a trailing "/". Tests may point it
// elsewhere with SetExecutableFolderOverride so that each test gets a config
// folder of its own; an empty override restores the real folder.
std::string ExecutableFolder();
void SetExecutableFolderOverride(const std::string& AFolder);

}  // namespace qvr
