// trimbit_optimise: checks the arguments, hands the image to the handler of
// its format with the session's state, turns the report lines into events,
// and every failure into a status and the command line's message.
#include <cstring>
#include <new>

#include "api/session.h"
#include "containers/gzip.h"
#include "containers/png.h"
#include "support/error.h"
#include "zip/zip_process.h"

namespace trimbit {
namespace {

static_assert(static_cast<int>(ReportKind::Detail) == TRIMBIT_EVENT_DETAIL &&
              static_cast<int>(ReportKind::Notice) == TRIMBIT_EVENT_NOTICE &&
              static_cast<int>(ReportKind::Result) == TRIMBIT_EVENT_RESULT);

struct EventSink {
  trimbit_report_fn report;
  void* context;
};

void HandOnEvent(void* context, const ReportEvent& event) {
  const EventSink* sink = static_cast<const EventSink*>(context);
  const trimbit_event out = {static_cast<trimbit_event_kind>(event.kind),
                             static_cast<int>(event.level), event.text, event.length};
  sink->report(sink->context, &out);
}

// Keeps the message, clears the result and the output, and returns the status.
trimbit_status Fail(trimbit_session* session, trimbit_result* result, trimbit_status status,
                    const char* message) {
  SetSessionMessage(session, message);
  if (result != nullptr) std::memset(result, 0, sizeof *result);
  session->output.Clear();
  return status;
}

trimbit_status StatusOf(Error::Kind kind) {
  switch (kind) {
    case Error::Kind::BadInput:
      return TRIMBIT_BAD_INPUT;
    case Error::Kind::OutOfMemory:
      return TRIMBIT_OUT_OF_MEMORY;
    case Error::Kind::Internal:
      break;
  }
  return TRIMBIT_INTERNAL_FAULT;
}

}  // namespace
}  // namespace trimbit

extern "C" trimbit_status trimbit_optimise(trimbit_session* session, const trimbit_options* options,
                                           trimbit_format format, const uint8_t* image, size_t size,
                                           trimbit_report_fn report, void* report_context,
                                           trimbit_result* result) {
  using namespace trimbit;
  if (result != nullptr) std::memset(result, 0, sizeof *result);
  if (session == nullptr) return TRIMBIT_INVALID_ARGUMENT;
  session->output.Clear();
  const trimbit_options defaults = {0, 0, 0, 0, 1};
  if (options == nullptr) options = &defaults;
  if (result == nullptr || (image == nullptr && size != 0))
    return Fail(session, result, TRIMBIT_INVALID_ARGUMENT,
                "Null pointer for the image or the result");
  if (format != TRIMBIT_FORMAT_GZIP && format != TRIMBIT_FORMAT_PNG && format != TRIMBIT_FORMAT_ZIP)
    return Fail(session, result, TRIMBIT_INVALID_ARGUMENT, "Unknown format");
  if (options->verbosity < 0 || options->verbosity > 2)
    return Fail(session, result, TRIMBIT_INVALID_ARGUMENT, "Verbosity must be 0, 1 or 2");

  const ImageOptions imageOptions = {options->replace_on_bits != 0, options->keep_comments != 0,
                                     options->force_rewrite != 0, options->keep_all != 0};
  EventSink sink = {report, report_context};
  // Without a receiver nothing is even formatted.
  const Reporter reporter = {report != nullptr ? static_cast<uint32_t>(options->verbosity) : 0,
                             report != nullptr ? HandOnEvent : nullptr, &sink};
  CodecState& codec = *session->codec;
  StartTieBreakRecord(codec.tieBreak);
  static const uint8_t kNoBytes[1] = {0};
  const ImageJob job = {
      image != nullptr ? image : kNoBytes, size, imageOptions, codec, reporter, session->output};
  try {
    const ImageOutcome outcome = format == TRIMBIT_FORMAT_GZIP  ? OptimiseGzip(job)
                                 : format == TRIMBIT_FORMAT_PNG ? OptimisePng(job)
                                                                : OptimiseZip(job);
    result->keep_original = !WorthReplacing(imageOptions, outcome);
    if (result->keep_original) {
      session->output.Clear();
    } else {
      result->output = session->output.data();
      result->output_size = session->output.size();
    }
    result->bits_saved = outcome.bitsSaved;
    result->bytes_saved = outcome.bytesSaved;
    result->carried_mode = codec.tieBreak.mode;
    result->read_carried_mode = codec.tieBreak.readBeforeWritten;
    SetSessionMessage(session, "");
    return TRIMBIT_OK;
  } catch (const Error& error) {
    return Fail(session, result, StatusOf(error.kind()), error.what());
  } catch (const std::bad_alloc&) {
    return Fail(session, result, TRIMBIT_OUT_OF_MEMORY, "Out of memory");
  } catch (...) {
    return Fail(session, result, TRIMBIT_INTERNAL_FAULT,
                "Something somewhere threw an exception. Sorry, can't be more specific");
  }
}
