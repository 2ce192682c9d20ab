// trimbit_optimise: checks the arguments, hands the image to the handler of
// its format with the session's state, turns the report lines into events,
// and every failure into a status and the command line's message.
#include <cstring>
#include <new>

#include "api/session.h"
#include "containers/gzip.h"
#include "containers/png.h"
#include "support/error.h"
#include "support/input_window.h"
#include "support/output_sink.h"
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
    case Error::Kind::InputOutput:
      return TRIMBIT_IO_ERROR;
    case Error::Kind::Internal:
      break;
  }
  return TRIMBIT_INTERNAL_FAULT;
}

// The caller's output functions as a sink.
class CallbackSink : public OutputSink {
 public:
  explicit CallbackSink(const trimbit_output& output) : out_(output) {}

 protected:
  bool DoAppend(const void* bytes, size_t n) override {
    return out_.write(out_.context, bytes, n) == 0;
  }
  bool DoWriteAt(uint64_t offset, const void* bytes, size_t n) override {
    return out_.write_at(out_.context, offset, bytes, n) == 0;
  }
  bool DoReadAt(uint64_t offset, void* to, size_t n) override {
    return out_.read_at(out_.context, offset, to, n) == 0;
  }
  bool DoTruncate(uint64_t size) override { return out_.truncate(out_.context, size) == 0; }

 private:
  const trimbit_output& out_;
};

// The input window of a streamed image: a few megabytes at a time.
constexpr size_t kInputWindow = 8u << 20;

const trimbit_options kDefaults = {0, 0, 0, 0, 1};

// What every call does first: clears the result and the session's output,
// takes the defaults for null options, and checks the arguments; returns
// TRIMBIT_OK or the failure.
trimbit_status BeginCall(trimbit_session* session, const trimbit_options*& options,
                         trimbit_format format, trimbit_result* result, bool pointersGiven) {
  if (result != nullptr) std::memset(result, 0, sizeof *result);
  if (session == nullptr) return TRIMBIT_INVALID_ARGUMENT;
  session->output.Clear();
  if (options == nullptr) options = &kDefaults;
  if (result == nullptr || !pointersGiven)
    return Fail(session, result, TRIMBIT_INVALID_ARGUMENT,
                "Null pointer for the image or the result");
  if (format != TRIMBIT_FORMAT_GZIP && format != TRIMBIT_FORMAT_PNG && format != TRIMBIT_FORMAT_ZIP)
    return Fail(session, result, TRIMBIT_INVALID_ARGUMENT, "Unknown format");
  if (options->verbosity < 0 || options->verbosity > 2)
    return Fail(session, result, TRIMBIT_INVALID_ARGUMENT, "Verbosity must be 0, 1 or 2");
  return TRIMBIT_OK;
}

// Runs the handler of the format over the image, which streams from `input`
// to `sink`, and fills in the result.
trimbit_status Run(trimbit_session* session, const trimbit_options* options, trimbit_format format,
                   InputWindow& input, OutputSink& sink, bool sinkIsOutput,
                   trimbit_report_fn report, void* report_context, trimbit_result* result) {
  const ImageOptions imageOptions = {options->replace_on_bits != 0, options->keep_comments != 0,
                                     options->force_rewrite != 0, options->keep_all != 0};
  EventSink events = {report, report_context};
  // Without a receiver nothing is even formatted.
  const Reporter reporter = {report != nullptr ? static_cast<uint32_t>(options->verbosity) : 0,
                             report != nullptr ? HandOnEvent : nullptr, &events};
  CodecState& codec = *session->codec;
  StartTieBreakRecord(codec.tieBreak);
  try {
    const ImageJob job = {input.size(), imageOptions, codec, reporter, input, sink};
    const ImageOutcome outcome = format == TRIMBIT_FORMAT_GZIP  ? OptimiseGzip(job)
                                 : format == TRIMBIT_FORMAT_PNG ? OptimisePng(job)
                                                                : OptimiseZip(job);
    result->keep_original = !WorthReplacing(imageOptions, outcome);
    if (result->keep_original) {
      session->output.Clear();
      sink.Truncate(0);
    } else if (sinkIsOutput) {
      result->output = session->output.data();
      result->output_size = session->output.size();
    } else {
      result->output_size = static_cast<size_t>(sink.size());
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

}  // namespace
}  // namespace trimbit

extern "C" trimbit_status trimbit_optimise(trimbit_session* session, const trimbit_options* options,
                                           trimbit_format format, const uint8_t* image, size_t size,
                                           trimbit_report_fn report, void* report_context,
                                           trimbit_result* result) {
  using namespace trimbit;
  const trimbit_status status =
      BeginCall(session, options, format, result, image != nullptr || size == 0);
  if (status != TRIMBIT_OK) return status;
  static const uint8_t kNoBytes[1] = {0};
  if (image == nullptr) image = kNoBytes;
  // The one way through: the image in memory is its own window, and the new
  // image goes to the session's buffer.
  InputWindow input(image, size);
  BufferSink sink(session->output);
  return Run(session, options, format, input, sink, true, report, report_context, result);
}

extern "C" trimbit_status trimbit_optimise_stream(trimbit_session* session,
                                                  const trimbit_options* options,
                                                  trimbit_format format, const trimbit_input* input,
                                                  const trimbit_output* output,
                                                  trimbit_report_fn report, void* report_context,
                                                  trimbit_result* result) {
  using namespace trimbit;
  const bool given = input != nullptr && output != nullptr && input->read != nullptr &&
                     output->write != nullptr && output->write_at != nullptr &&
                     output->read_at != nullptr && output->truncate != nullptr;
  const trimbit_status status = BeginCall(session, options, format, result, given);
  if (status != TRIMBIT_OK) return status;
  try {
    InputWindow window(input->read, input->context, input->size, kInputWindow);
    CallbackSink sink(*output);
    return Run(session, options, format, window, sink, false, report, report_context, result);
  } catch (const Error& error) {
    return Fail(session, result, StatusOf(error.kind()), error.what());
  }
}
