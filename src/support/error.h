// The one exception type of the engine. A failure is either bad input (the
// data are not what they claim to be; the message is meant for the user) or
// an internal fault (an invariant of the program itself broke; its message
// ends in "!?!?!?" or names its location). Both carry the text the command
// line prints after "ERROR: ".
#pragma once

#include <exception>
#include <string>
#include <utility>

namespace trimbit {

class Error : public std::exception {
 public:
  enum class Kind { BadInput, Internal };

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
// Throws an internal fault: a check of the program's own invariants failed.
[[noreturn]] void Fault(const char* text);

}  // namespace trimbit
