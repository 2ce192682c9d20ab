// The C API against the command line, its first client: the bundled samples
// optimised in memory come out exactly as the command line writes them, in
// one session as in one run; bad input is refused with the command line's
// message; the report events are the command line's lines in its order; no
// callback changes nothing; the carried mode lets images run out of order,
// and sessions in two threads share nothing.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "common/images.h"
#include "driver/run.h"
#include "trimbit.h"

namespace {

using testutil::Bytes;

struct Sample {
  std::string name;
  trimbit_format format;
  Bytes bytes;
};

// The bundled samples, in the order of their names.
std::vector<Sample> Samples() {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(TRIMBIT_EXAMPLES))
    if (entry.path().extension() != ".c") names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  std::vector<Sample> samples;
  for (const std::string& name : names) {
    const std::string extension = std::filesystem::path(name).extension().string();
    const trimbit_format format = extension == ".png"   ? TRIMBIT_FORMAT_PNG
                                  : extension == ".zip" ? TRIMBIT_FORMAT_ZIP
                                                        : TRIMBIT_FORMAT_GZIP;
    samples.push_back({name, format, testutil::ReadFile(std::string(TRIMBIT_EXAMPLES "/") + name)});
  }
  return samples;
}

// A scratch folder, removed at the end.
struct Scratch {
  std::string path;
  Scratch() {
    char pattern[] = "/tmp/trimbit-api-XXXXXX";
    path = mkdtemp(pattern);
  }
  ~Scratch() { std::filesystem::remove_all(path); }
};

struct CommandLine {
  int status;
  std::string output;  // standard output
};

// Runs the command line in this process on `files` with `options`.
CommandLine RunCommandLine(const std::vector<std::string>& options,
                           const std::vector<std::string>& files) {
  std::vector<std::string> arguments = {"trimbit"};
  arguments.insert(arguments.end(), options.begin(), options.end());
  arguments.insert(arguments.end(), files.begin(), files.end());
  std::vector<char*> argv;
  for (std::string& argument : arguments) argv.push_back(argument.data());
  testing::internal::CaptureStdout();
  const int status = trimbit::RunTrimbit(static_cast<int>(argv.size()), argv.data());
  return {status, testing::internal::GetCapturedStdout()};
}

// Runs the command line with `options` on a file of `name` holding `bytes`,
// in a scratch folder of its own.
CommandLine RunOnFile(const std::vector<std::string>& options, const std::string& name,
                      const Bytes& bytes) {
  Scratch scratch;
  const std::string file = scratch.path + "/" + name;
  testutil::WriteFile(file, bytes);
  return RunCommandLine(options, {file});
}

struct Event {
  trimbit_event_kind kind;
  int level;
  std::string text;
};

void Collect(void* context, const trimbit_event* event) {
  static_cast<std::vector<Event>*>(context)->push_back(
      {event->kind, event->level, std::string(event->text, event->length)});
}

// What the file holds after the library's answer: the new image, or the
// original when it is to be kept.
Bytes Answer(const Sample& sample, const trimbit_result& result) {
  if (result.keep_original) return sample.bytes;
  return Bytes(result.output, result.output + result.output_size);
}

// The streaming call's input and output in memory; `failAt` makes the nth
// call of the function named `failing` fail.
struct MemoryStream {
  const Bytes& in;
  Bytes out;
  std::string failing;
  int failAt = 0;
  trimbit_input input = {in.size(), this, Read};
  trimbit_output output = {this, Write, WriteAt, ReadAt, Truncate};

  bool Fails(const char* name) { return failing == name && --failAt == 0; }
  static MemoryStream& Of(void* c) { return *static_cast<MemoryStream*>(c); }
  static int Read(void* c, uint64_t at, void* to, size_t n) {
    if (Of(c).Fails("read")) return -1;
    std::memcpy(to, Of(c).in.data() + at, n);
    return 0;
  }
  static int Write(void* c, const void* b, size_t n) {
    if (Of(c).Fails("write")) return -1;
    Of(c).out.insert(Of(c).out.end(), static_cast<const uint8_t*>(b),
                     static_cast<const uint8_t*>(b) + n);
    return 0;
  }
  static int WriteAt(void* c, uint64_t at, const void* b, size_t n) {
    std::memcpy(Of(c).out.data() + at, b, n);
    return 0;
  }
  static int ReadAt(void* c, uint64_t at, void* to, size_t n) {
    if (Of(c).Fails("read_at")) return -1;
    std::memcpy(to, Of(c).out.data() + at, n);
    return 0;
  }
  static int Truncate(void* c, uint64_t size) {
    Of(c).out.resize(size);
    return 0;
  }
};

const struct {
  std::vector<std::string> letters;
  trimbit_options options;
  int splitBlocks;  // -x, a session setting
} kOptionSets[] = {
    {{}, {0, 0, 0, 0, 0}, 0},
    {{"-k", "-c"}, {0, 1, 0, 1, 0}, 0},
    {{"-f", "-b"}, {1, 0, 1, 0, 0}, 0},
    {{"-x"}, {0, 0, 0, 0, 0}, 1},
};

TEST(Api, SamplesComeOutAsTheCommandLineWritesThem) {
  const std::vector<Sample> samples = Samples();
  ASSERT_EQ(samples.size(), 6u);
  for (const auto& set : kOptionSets) {
    SCOPED_TRACE(set.letters.empty() ? "no options" : set.letters[0]);
    Scratch scratch;
    std::vector<std::string> files;
    for (const Sample& sample : samples) {
      files.push_back(scratch.path + "/" + sample.name);
      testutil::WriteFile(files.back(), sample.bytes);
    }
    std::vector<std::string> options = set.letters;
    options.push_back("-s");
    ASSERT_EQ(RunCommandLine(options, files).status, 0);

    // Streamed through callbacks in a session of its own, the same bytes.
    trimbit_session* session = trimbit_session_new();
    trimbit_session* streaming = trimbit_session_new();
    ASSERT_NE(session, nullptr);
    ASSERT_NE(streaming, nullptr);
    ASSERT_EQ(trimbit_session_set_split_blocks(session, set.splitBlocks), TRIMBIT_OK);
    ASSERT_EQ(trimbit_session_set_split_blocks(streaming, set.splitBlocks), TRIMBIT_OK);
    for (size_t i = 0; i < samples.size(); ++i) {
      SCOPED_TRACE(samples[i].name);
      trimbit_result result, streamed;
      ASSERT_EQ(trimbit_optimise(session, &set.options, samples[i].format, samples[i].bytes.data(),
                                 samples[i].bytes.size(), nullptr, nullptr, &result),
                TRIMBIT_OK);
      EXPECT_STREQ(trimbit_session_message(session), "");
      EXPECT_TRUE(Answer(samples[i], result) == testutil::ReadFile(files[i]));
      EXPECT_EQ(result.keep_original != 0, result.output == nullptr);
      MemoryStream m = {samples[i].bytes, {}, "", 0};
      ASSERT_EQ(trimbit_optimise_stream(streaming, &set.options, samples[i].format, &m.input,
                                        &m.output, nullptr, nullptr, &streamed),
                TRIMBIT_OK);
      EXPECT_EQ(streamed.keep_original, result.keep_original);
      EXPECT_EQ(streamed.output, nullptr);
      if (!result.keep_original) {
        EXPECT_TRUE(m.out == Answer(samples[i], result));
        EXPECT_EQ(streamed.output_size, m.out.size());
      }
    }
    trimbit_session_free(session);
    trimbit_session_free(streaming);
  }
}

// Every event the library reports is what the command line prints for the
// file, in the same order; the lines about the savings come last. Without a
// callback the bytes are the same.
TEST(Api, EventsAreTheCommandLinesLinesInItsOrder) {
  const std::vector<Sample> samples = Samples();
  trimbit_session* reporting = trimbit_session_new();
  trimbit_session* silent = trimbit_session_new();
  for (const Sample& sample : samples) {
    SCOPED_TRACE(sample.name);
    const CommandLine printed = RunOnFile({"-v"}, sample.name, sample.bytes);
    ASSERT_EQ(printed.status, 0);

    const trimbit_options verbose = {0, 0, 0, 0, 2};
    std::vector<Event> events;
    trimbit_result result, quiet;
    ASSERT_EQ(trimbit_optimise(reporting, &verbose, sample.format, sample.bytes.data(),
                               sample.bytes.size(), Collect, &events, &result),
              TRIMBIT_OK);
    const Bytes answer = Answer(sample, result);
    ASSERT_EQ(trimbit_optimise(silent, &verbose, sample.format, sample.bytes.data(),
                               sample.bytes.size(), nullptr, nullptr, &quiet),
              TRIMBIT_OK);
    EXPECT_TRUE(Answer(sample, quiet) == answer);
    EXPECT_EQ(quiet.bits_saved, result.bits_saved);

    std::string lines;
    bool results = false;
    for (const Event& event : events) {
      results = results || event.kind == TRIMBIT_EVENT_RESULT;
      EXPECT_EQ(event.kind == TRIMBIT_EVENT_RESULT, results) << "a line after the savings";
      EXPECT_TRUE(event.level == 1 || event.level == 2);
      lines += event.text;
    }
    EXPECT_GT(events.size(), 3u);
    const std::string ending = result.keep_original ? "\n\n\nNumber of files" : "\nFile rewritten.";
    EXPECT_NE(printed.output.find("--\n" + lines + ending), std::string::npos)
        << lines << "\n---- printed ----\n"
        << printed.output;
  }
  trimbit_session_free(reporting);
  trimbit_session_free(silent);
}

TEST(Api, BadInputIsRefusedWithTheCommandLinesMessage) {
  const std::vector<Sample> samples = Samples();
  const Bytes& gzip = samples[0].bytes;  // GPL-3.txt.gz
  Bytes damaged = gzip;
  damaged[damaged.size() - 6] ^= 1;  // the trailer's CRC-32
  const struct {
    const char* name;
    trimbit_format format;
    Bytes bytes;
    const char* message;
  } cases[] = {
      {"cut.gz", TRIMBIT_FORMAT_GZIP, Bytes(gzip.begin(), gzip.begin() + 2000),
       "Unexpected end of data"},
      {"damaged.gz", TRIMBIT_FORMAT_GZIP, damaged,
       "Damaged GZIP member 1: the CRC-32 in its trailer does not match its data"},
      {"plain.png", TRIMBIT_FORMAT_PNG, Bytes(gzip.begin(), gzip.begin() + 100),
       "Invalid PNG signature"},
      {"empty.zip", TRIMBIT_FORMAT_ZIP, {}, "Zero filesize or could not get filesize of Zipfile"},
      {"plain.zip", TRIMBIT_FORMAT_ZIP, gzip, "Could not find ECD"},
  };
  trimbit_session* session = trimbit_session_new();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const CommandLine printed = RunOnFile({"-s"}, c.name, c.bytes);
    EXPECT_EQ(printed.status, 1);
    const std::string line = std::string("\n\nERROR: ") + c.message + ".\n";
    ASSERT_GE(printed.output.size(), line.size());
    EXPECT_EQ(printed.output.substr(printed.output.size() - line.size()), line);

    trimbit_result result;
    EXPECT_EQ(trimbit_optimise(session, nullptr, c.format, c.bytes.data(), c.bytes.size(), nullptr,
                               nullptr, &result),
              TRIMBIT_BAD_INPUT);
    EXPECT_STREQ(trimbit_session_message(session), c.message);
    EXPECT_EQ(result.output, nullptr);
    EXPECT_EQ(result.bytes_saved, 0u);
  }
  trimbit_session_free(session);
}

// A failing read, write or read-back ends the streaming call with
// TRIMBIT_IO_ERROR, whenever it comes; a call it never comes to succeeds.
TEST(Api, FailingCallbacksEndTheStreamingCall) {
  const std::vector<Sample> samples = Samples();
  for (const Sample& sample : samples)
    for (const char* failing : {"read", "write", "read_at"})
      for (int at : {1, 2, 5}) {
        SCOPED_TRACE(testing::Message() << sample.name << ": " << failing << " " << at);
        trimbit_session* session = trimbit_session_new();
        MemoryStream m = {sample.bytes, {}, failing, at};
        const trimbit_options force = {0, 0, 1, 0, 1};
        trimbit_result result;
        const trimbit_status status = trimbit_optimise_stream(
            session, &force, sample.format, &m.input, &m.output, nullptr, nullptr, &result);
        // A read-back comes only where a stream is checked in the output.
        if (m.failAt <= 0) {
          EXPECT_EQ(status, TRIMBIT_IO_ERROR);
        } else {
          EXPECT_EQ(status, TRIMBIT_OK);
        }
        trimbit_session_free(session);
      }
}

// PNG and ZIP offsets are 32-bit: an image past 4 GiB is refused before
// anything of it is read.
TEST(Api, StreamedPngAndZipPast4GiBAreRefused) {
  for (trimbit_format format : {TRIMBIT_FORMAT_PNG, TRIMBIT_FORMAT_ZIP}) {
    const Bytes none;
    MemoryStream m = {none, {}, "read", 1};
    m.input.size = uint64_t{5} << 30;
    trimbit_session* session = trimbit_session_new();
    trimbit_result result;
    EXPECT_EQ(trimbit_optimise_stream(session, nullptr, format, &m.input, &m.output, nullptr,
                                      nullptr, &result),
              TRIMBIT_BAD_INPUT);
    EXPECT_STREQ(trimbit_session_message(session), "File too large");
    trimbit_session_free(session);
  }
}

TEST(Api, RefusesInvalidArguments) {
  const Bytes bytes = Samples()[0].bytes;
  trimbit_session* session = trimbit_session_new();
  trimbit_result result;
  const trimbit_options loud = {0, 0, 0, 0, 3};
  EXPECT_EQ(trimbit_optimise(nullptr, nullptr, TRIMBIT_FORMAT_GZIP, bytes.data(), bytes.size(),
                             nullptr, nullptr, &result),
            TRIMBIT_INVALID_ARGUMENT);
  EXPECT_EQ(trimbit_optimise(session, nullptr, TRIMBIT_FORMAT_UNKNOWN, bytes.data(), bytes.size(),
                             nullptr, nullptr, &result),
            TRIMBIT_INVALID_ARGUMENT);
  EXPECT_EQ(trimbit_optimise(session, &loud, TRIMBIT_FORMAT_GZIP, bytes.data(), bytes.size(),
                             nullptr, nullptr, &result),
            TRIMBIT_INVALID_ARGUMENT);
  EXPECT_EQ(trimbit_optimise(session, nullptr, TRIMBIT_FORMAT_GZIP, nullptr, 10, nullptr, nullptr,
                             &result),
            TRIMBIT_INVALID_ARGUMENT);
  EXPECT_EQ(trimbit_optimise(session, nullptr, TRIMBIT_FORMAT_GZIP, bytes.data(), bytes.size(),
                             nullptr, nullptr, nullptr),
            TRIMBIT_INVALID_ARGUMENT);
  EXPECT_STRNE(trimbit_session_message(session), "");
  EXPECT_EQ(trimbit_session_set_carried_mode(session, 4), TRIMBIT_INVALID_ARGUMENT);
  EXPECT_EQ(trimbit_session_set_carried_mode(nullptr, 0), TRIMBIT_INVALID_ARGUMENT);
  EXPECT_EQ(trimbit_session_set_split_blocks(nullptr, 1), TRIMBIT_INVALID_ARGUMENT);
  trimbit_session_free(session);
  trimbit_session_free(nullptr);

  for (const Sample& sample : Samples())
    EXPECT_EQ(trimbit_detect_format(sample.bytes.data(), sample.bytes.size()), sample.format);
  EXPECT_EQ(trimbit_detect_format(bytes.data(), 7), TRIMBIT_FORMAT_UNKNOWN);
  EXPECT_EQ(RunCommandLine({"--version"}, {}).output,
            std::string("Trimbit ") + trimbit_version() + "\n");
}

// The images of a run optimised one by one in fresh sessions, each given
// the mode the run carried into it, in reverse order, come out as the run
// wrote them.
TEST(Api, TheCarriedModeLetsImagesRunOutOfOrder) {
  const std::vector<Sample> samples = Samples();
  const trimbit_options options = {0, 0, 0, 0, 0};
  std::vector<Bytes> inOrder;
  std::vector<unsigned> modeBefore = {0};
  trimbit_session* run = trimbit_session_new();
  for (const Sample& sample : samples) {
    trimbit_result result;
    ASSERT_EQ(trimbit_optimise(run, &options, sample.format, sample.bytes.data(),
                               sample.bytes.size(), nullptr, nullptr, &result),
              TRIMBIT_OK);
    inOrder.push_back(Answer(sample, result));
    EXPECT_LE(result.carried_mode, 3u);
    modeBefore.push_back(result.carried_mode);
  }
  trimbit_session_free(run);
  for (size_t i = samples.size(); i-- > 0;) {
    trimbit_session* session = trimbit_session_new();
    trimbit_result result;
    EXPECT_EQ(trimbit_session_set_carried_mode(session, modeBefore[i]), TRIMBIT_OK);
    ASSERT_EQ(trimbit_optimise(session, &options, samples[i].format, samples[i].bytes.data(),
                               samples[i].bytes.size(), nullptr, nullptr, &result),
              TRIMBIT_OK);
    EXPECT_TRUE(Answer(samples[i], result) == inOrder[i]) << samples[i].name;
    trimbit_session_free(session);
  }
}

// Two sessions on two threads, each optimising a list of images in its
// order, write what the same lists write one after the other, each in a
// fresh session: the bundled samples and generated images of all three
// formats, forwards on one thread and backwards on the other.
TEST(ApiThreads, TwoSessionsWriteWhatFreshSessionsWrite) {
  std::vector<Sample> images = Samples();
  for (int level : {1, 6, 9}) {
    const Bytes text = testutil::SampleText(20000 * level, level),
                mixed = testutil::Mixture(30000, level);
    images.push_back({"gzip", TRIMBIT_FORMAT_GZIP, testutil::GzipMember(text, level)});
    images.push_back({"png", TRIMBIT_FORMAT_PNG, testutil::Png(100 * level, 50, {}, level)});
    images.push_back(
        {"zip", TRIMBIT_FORMAT_ZIP, testutil::Zip({{"a", text}, {"b", mixed}}, level)});
  }
  std::vector<Sample> lists[2] = {images, {images.rbegin(), images.rend()}};
  auto run = [](const std::vector<Sample>* list, std::vector<Bytes>* out) {
    trimbit_session* session = trimbit_session_new();
    for (const Sample& image : *list) {
      trimbit_result result;
      out->push_back(trimbit_optimise(session, nullptr, image.format, image.bytes.data(),
                                      image.bytes.size(), nullptr, nullptr, &result) == TRIMBIT_OK
                         ? Answer(image, result)
                         : Bytes{});
    }
    trimbit_session_free(session);
  };
  std::vector<Bytes> alone[2], together[2];
  for (int k = 0; k < 2; ++k) run(&lists[k], &alone[k]);
  std::thread first(run, &lists[0], &together[0]), second(run, &lists[1], &together[1]);
  first.join();
  second.join();
  for (int k = 0; k < 2; ++k) {
    ASSERT_EQ(together[k].size(), lists[k].size());
    for (size_t n = 0; n < lists[k].size(); ++n) {
      SCOPED_TRACE(testing::Message() << "thread " << k << ", " << lists[k][n].name);
      EXPECT_FALSE(alone[k][n].empty());
      EXPECT_TRUE(together[k][n] == alone[k][n]);
    }
  }
}

}  // namespace
