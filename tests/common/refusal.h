// What the library says of an image, for tests of hostile input.
#pragma once

#include <string>

#include "common/zlib_util.h"
#include "trimbit.h"

namespace testutil {

// The library's message when it refuses `image` (TRIMBIT_BAD_INPUT), or
// "accepted" / "status N" when it does not.
inline std::string Refusal(trimbit_format format, const Bytes& image,
                           const trimbit_options* options = nullptr) {
  trimbit_session* session = trimbit_session_new();
  trimbit_result result;
  const trimbit_status status = trimbit_optimise(session, options, format, image.data(),
                                                 image.size(), nullptr, nullptr, &result);
  std::string said = status == TRIMBIT_OK          ? "accepted"
                     : status == TRIMBIT_BAD_INPUT ? trimbit_session_message(session)
                                                   : "status " + std::to_string(status);
  trimbit_session_free(session);
  return said;
}

}  // namespace testutil
