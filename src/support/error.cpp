#include "support/error.h"

namespace trimbit {

void Refuse(const char* text) {
  throw Error(Error::Kind::BadInput, text);
}

void Fault(const char* text) {
  throw Error(Error::Kind::Internal, text);
}

}  // namespace trimbit
