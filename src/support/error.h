// The one exception type of the program. A failure is bad input (the data
// are not what they claim to be, or the system refused a request; the
// message is meant for the user), an internal fault (an invariant of the
// program itself broke; its message ends in "!?!?!?" or names its location),
// or memory that ran out where the program can say which allocation failed,
// or a failure to read the input or write the output the client provides.
// All carry the text the command line prints after "ERROR: ".
#pragma once

#include <exception>
#include <string>
#include <utility>

namespace trimbit {

class Error : public std::exception {
 public:
  enum class Kind { BadInput, Internal, OutOfMemory, InputOutput };

  Error(Kind kind, std::string message) : kind_(kind), message_(std::move(message)) {}

  Kind kind() const { return kind_; }
  const std::string& message() const { return message_; }
  const char* what() const noexcept override { return message_.c_str(); }

 private:
  Kind kind_;
  std::string message_;
};

// Throws bad input: the data cannot be handled as they are.
[[noreturn]] void Refuse(const char* text);
[[noreturn]] void Refuse(const std::string& text);
// Throws an internal fault: a check of the program's own invariants failed.
[[noreturn]] void Fault(const char* text);
// Throws that the allocation `text` names could not be made.
[[noreturn]] void OutOfMemory(const char* text);

// printf-style text for a message that names a file or a value.
std::string FormatText(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace trimbit
