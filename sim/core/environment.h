// Process environments on the simulated machine: the entries "NAME=VALUE" in
// the order of an environment block, names compared without regard to case as
// Windows compares them.
#pragma once

#include <string>
#include <vector>

namespace tavu::sim {

using SimEnvironment = std::vector<std::wstring>;

// The value of name; false when the environment has no such variable.
bool EnvironmentValue(const SimEnvironment& environment, const std::wstring& name, std::wstring* value);
// Replaces the variable of that name, or adds it.
void SetEnvironmentValue(SimEnvironment& environment, const std::wstring& name, const std::wstring& value);
// The entries of a block of NUL-terminated "NAME=VALUE" strings that ends with
// an empty string, as CreateProcessW takes it with CREATE_UNICODE_ENVIRONMENT.
SimEnvironment ParseEnvironmentBlock(const wchar_t* block);

// What Windows gives a program that SYSTEM starts: the system variables of
// the Session Manager, with the system's own folders.
SimEnvironment SystemEnvironment();
// What a program that the owner starts inherits when nobody changed it: the
// system variables and the owner's own (profile, temporary folder, the
// per-user folder of PATH).
SimEnvironment OwnerEnvironment();

}  // namespace tavu::sim
