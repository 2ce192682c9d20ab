// The session behind the C API: every piece of state the library keeps
// between and during calls, and nothing else.
#pragma once

#include <memory>
#include <string>

#include "deflate/codec_state.h"
#include "support/output_buffer.h"
#include "trimbit.h"

struct trimbit_session {
  std::unique_ptr<trimbit::CodecState> codec;  // the deflate engine, tie-break mode included
  trimbit::OutputBuffer output;                // the last new image made in memory
  std::string message;                         // the last failure's message; "" after success
  const char* fallbackMessage = nullptr;       // used instead when the message could not be kept
};

namespace trimbit {

// Keeps `text` as the session's message.
void SetSessionMessage(trimbit_session* session, const char* text) noexcept;

}  // namespace trimbit
