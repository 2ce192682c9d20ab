// Creating, freeing and asking a session.
#include "api/session.h"

#include <new>

namespace trimbit {

void SetSessionMessage(trimbit_session* session, const char* text) noexcept {
  try {
    session->message.assign(text);
    session->fallbackMessage = nullptr;
  } catch (...) {
    session->message.clear();
    session->fallbackMessage = "Out of memory";
  }
}

}  // namespace trimbit

extern "C" {

trimbit_session* trimbit_session_new(void) {
  try {
    std::unique_ptr<trimbit_session> session(new trimbit_session);
    session->codec = trimbit::NewCodecState();
    // Room for any message the library makes, so keeping one needs no allocation.
    session->message.reserve(256);
    return session.release();
  } catch (...) {
    return nullptr;
  }
}

void trimbit_session_free(trimbit_session* session) {
  delete session;
}

const char* trimbit_session_message(const trimbit_session* session) {
  if (session == nullptr) return "";
  return session->fallbackMessage != nullptr ? session->fallbackMessage : session->message.c_str();
}

trimbit_status trimbit_session_set_carried_mode(trimbit_session* session, unsigned mode) {
  if (session == nullptr) return TRIMBIT_INVALID_ARGUMENT;
  if (mode > 3) {
    trimbit::SetSessionMessage(session, "Tie-break mode must be 0 to 3");
    return TRIMBIT_INVALID_ARGUMENT;
  }
  session->codec->tieBreak.mode = mode;
  trimbit::SetSessionMessage(session, "");
  return TRIMBIT_OK;
}

trimbit_status trimbit_session_set_split_blocks(trimbit_session* session, int on) {
  if (session == nullptr) return TRIMBIT_INVALID_ARGUMENT;
  session->codec->splitBlocks = on != 0;
  trimbit::SetSessionMessage(session, "");
  return TRIMBIT_OK;
}

}  // extern "C"
