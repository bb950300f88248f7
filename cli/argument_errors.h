// Bad arguments in the command's own words. Every argument error is one line,
// "--option: what is wrong", which main prints after "ostrand: " before it
// exits with status 2; the argument library's own wording never reaches the
// user.
#pragma once

#include <CLI/CLI.hpp>
#include <string>
#include <vector>

#include "driver/user_error.h"

namespace cli {

// Arguments found wrong only once the files they name are looked at (an
// animation given with other posed cages): told as bad arguments are, with
// exit status 2, as every error of kind usage is.
class ArgumentError : public driver::UserError {
 public:
  ArgumentError(const std::string& subject, const std::string& problem)
      : driver::UserError(driver::ErrorKind::kUsage, subject, problem) {}
};

// Value checks that read the whole value and say what is wrong with it. They
// replace the library's range checks, which let NaN through and word their
// failures their own way. Given as a transform (not a check), they hand the
// library the value in plain decimal form, so that what is checked is what is
// stored ("010" is ten, not octal eight).
CLI::Validator WholeNumberIn(long low, long high);  // an integer, low to high
CLI::Validator NumberIn(double low, double high);   // a finite number, low to high
CLI::Validator NotEmpty();

// The line for a failed parse, without "ostrand: ": the option concerned (its
// long name) or the unexpected argument, and what is wrong. app is the parser
// that threw; arguments are the command line without the program name.
std::string ArgumentProblem(const CLI::ParseError& error, const CLI::App& app,
                            const std::vector<std::string>& arguments);

}  // namespace cli
