// What the library says of an image, for tests of hostile input.
#pragma once

#include <cstring>
#include <string>

#include "common/zlib_util.h"
#include "trimbit.h"

namespace testutil {

// The library's message when it refuses `image` (TRIMBIT_BAD_INPUT), or
// "accepted" / "status N" when it does not. The streaming call, reading
// through callbacks, must say the same, or "streamed: " and what it said.
inline std::string Refusal(trimbit_format format, const Bytes& image,
                           const trimbit_options* options = nullptr) {
  const auto said = [](trimbit_session* session, trimbit_status status) {
    return status == TRIMBIT_OK          ? std::string("accepted")
           : status == TRIMBIT_BAD_INPUT ? std::string(trimbit_session_message(session))
                                         : "status " + std::to_string(status);
  };
  trimbit_session* session = trimbit_session_new();
  trimbit_result result;
  const std::string inMemory =
      said(session, trimbit_optimise(session, options, format, image.data(), image.size(), nullptr,
                                     nullptr, &result));
  Bytes out;
  const trimbit_input input = {image.size(), const_cast<Bytes*>(&image),
                               [](void* c, uint64_t at, void* to, size_t n) {
                                 std::memcpy(to, static_cast<Bytes*>(c)->data() + at, n);
                                 return 0;
                               }};
  const trimbit_output output = {&out,
                                 [](void* c, const void* b, size_t n) {
                                   auto& o = *static_cast<Bytes*>(c);
                                   o.insert(o.end(), static_cast<const uint8_t*>(b),
                                            static_cast<const uint8_t*>(b) + n);
                                   return 0;
                                 },
                                 [](void* c, uint64_t at, const void* b, size_t n) {
                                   std::memcpy(static_cast<Bytes*>(c)->data() + at, b, n);
                                   return 0;
                                 },
                                 [](void* c, uint64_t at, void* to, size_t n) {
                                   std::memcpy(to, static_cast<Bytes*>(c)->data() + at, n);
                                   return 0;
                                 },
                                 [](void* c, uint64_t size) {
                                   static_cast<Bytes*>(c)->resize(size);
                                   return 0;
                                 }};
  const std::string streamed =
      said(session, trimbit_optimise_stream(session, options, format, &input, &output, nullptr,
                                            nullptr, &result));
  trimbit_session_free(session);
  return streamed == inMemory ? inMemory : "streamed: " + streamed;
}

}  // namespace testutil
