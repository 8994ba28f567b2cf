// Codes the network client gives its own failures.
#pragma once

namespace oltra {

// Code of the exception raised when the register refuses the user name or password.
constexpr int kAuthenticationErrorCode = 1002;

// Code of the exception raised when the address answers, but not with a register's state
// (a web server that answers 404 everywhere, say). Its message says what came back.
constexpr int kNoRegisterStateErrorCode = 1005;

} // namespace oltra
