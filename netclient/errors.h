// Codes the network client gives its own failures.
#pragma once

namespace oltra {

// Code of the exception raised when the register refuses the user name or password.
constexpr int kAuthenticationErrorCode = 1002;

} // namespace oltra
