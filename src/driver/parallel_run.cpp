// The scheduler behind -jN: workers compute files ahead, this thread
// commits them in list order (see parallel_run.h).
#include "driver/parallel_run.h"

#include <sys/resource.h>
#include <unistd.h>

#include <condition_variable>
#include <exception>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "driver/console.h"
#include "driver/file_state.h"
#include "driver/process_file.h"
#include "driver/replace_file.h"
#include "driver/run_state.h"
#include "support/big_file.h"
#include "support/error.h"
#include "support/signal_cleanup.h"
#include "trimbit.h"

namespace trimbit {
namespace {

// One file between its compute step and its commit.
struct FileJob {
  const char* name = nullptr;
  uint8_t format = 0;
  FileState file;               // target, bytes, temporary name; held lines (Result events)
  std::vector<HeldLine> lines;  // the library's other lines, printed as the commit begins
  bool lineLost = false;        // a line could not be kept (out of memory)
  size_t heldBytes = 0;         // what the kept lines take
  nlink_t links = 0;            // more than 1: left alone, the library never ran
  bool streamed = false;        // too large to read whole, or its report too long to keep:
                                // processed at the commit
  bool optimised = false;       // the library ran (whether or not it succeeded)
  unsigned predictedMode = 0;   // the carried mode the library ran on
  trimbit_result result = {};   // its result; output points into `output`
  std::vector<uint8_t> output;  // the new image, copied out of the worker's session
  std::exception_ptr failure;   // what ended the compute step; thrown at its commit
  bool prepared = false;        // its worker prepared the temporary file, as `preparation` says
  Preparation preparation;
  std::exception_ptr leftBehind;  // a failed temporary file the worker could not remove

  // Guarded by the scheduler's mutex.
  bool done = false;        // computed: for the workers' predictions
  bool leavesMode = false;  // the library ran and left leftMode (if it read nothing)
  unsigned leftMode = 0;
  bool ready = false;  // its worker is done with it: for the commit

  ~FileJob() {
    delete file.outputFile;  // a stream left open by a failure (its temporary file is gone)
    ReleaseReplacementTarget(file);
  }
};

// Removes the file's temporary file, if any, and forgets its name; throws
// when it cannot be removed.
void AbandonTemporaryFile(FileState& file) {
  if (file.outputFile != nullptr) {
    std::unique_ptr<BigFile> output(file.outputFile);
    file.outputFile = nullptr;
    try {
      output->fclose();
    } catch (...) {
      // Its bytes go with it.
    }
  }
  DiscardTemporaryFile(file);
}

bool PreparationFailed(const Preparation& preparation) {
  return preparation.stage != Preparation::kNone && preparation.stage != Preparation::kReady;
}

// The report lines a file's compute step keeps for its commit, at most: a
// verbose report can take many times the file's size, and memory must not
// grow with it.
constexpr size_t kHeldReportBytes = size_t{1} << 20;

void KeepEvent(void* context, const trimbit_event* event) {
  FileJob& job = *static_cast<FileJob*>(context);
  if (job.streamed) return;
  job.heldBytes += sizeof(HeldLine) + event->length;
  if (job.heldBytes > kHeldReportBytes) {
    // The file is done again at its commit, printing as it goes.
    job.streamed = true;
    std::vector<HeldLine>().swap(job.lines);
    std::vector<HeldLine>().swap(job.file.heldLines);
    return;
  }
  try {
    HeldLine line = {event->level, std::string(event->text, event->length)};
    (event->kind == TRIMBIT_EVENT_RESULT ? job.file.heldLines : job.lines)
        .push_back(std::move(line));
  } catch (...) {
    job.lineLost = true;  // nothing may cross back into the library
  }
}

// Runs the library on the file's bytes with `mode` carried in; the outcome
// (lines, result, new bytes) replaces that of any earlier run.
void Optimise(FileJob& job, trimbit_session* session, const trimbit_options& options,
              unsigned mode) {
  job.lines.clear();
  job.file.heldLines.clear();
  job.lineLost = false;
  job.heldBytes = 0;
  job.output.clear();
  job.result = {};
  job.optimised = true;
  job.predictedMode = mode;
  if (trimbit_session_set_carried_mode(session, mode) != TRIMBIT_OK)
    Fault("Optimise(): Carried mode refused!?!?!?");
  trimbit_result result;
  const trimbit_status status =
      trimbit_optimise(session, &options, static_cast<trimbit_format>(job.file.fileFormat),
                       job.file.fileBuffer.data(), job.file.fileSize, KeepEvent, &job, &result);
  if (job.lineLost) throw std::bad_alloc();
  if (status != TRIMBIT_OK) RefuseFromLibrary(status, trimbit_session_message(session));
  job.result = result;       // the mode it leaves, for the predictions
  if (job.streamed) return;  // its new bytes are made again at its commit
  if (!result.keep_original) job.output.assign(result.output, result.output + result.output_size);
  job.result = result;
  job.result.output = job.output.data();
}

// The compute step: what ProcessFile does before the new file is written,
// printing nothing.
void Compute(FileJob& job, trimbit_session* session, const RunSettings& settings, unsigned mode) {
  try {
    FileState& file = job.file;
    file.fileFormat = FormatOf(settings, job.name, job.format);
    OpenReplacementTarget(job.name, file.target);
    if (file.target.examined.st_nlink > 1) {
      job.links = file.target.examined.st_nlink;
      ReleaseReplacementTarget(file);
      return;
    }
    file.tempFileName = TemporaryFileName(job.name);
    // A large file streams into its temporary file: it is processed at its
    // commit, on the run's own session, so temporary files stay one at a time.
    job.streamed = IsStreamed(file.target);
    if (job.streamed) return;
    ReadFileImage(file, job.name);
    Optimise(job, session, LibraryOptions(settings), mode);
  } catch (...) {
    job.failure = std::current_exception();
  }
}

// The file's temporary file, made by its worker ahead of its turn. Whatever
// failed is left to the commit, which tries again at the file's turn.
void Prepare(FileJob& job, bool preserveDate) {
  job.prepared = true;
  job.preparation = PrepareTemporaryFile(job.file, job.result, preserveDate);
  if (job.preparation.stage != Preparation::kWriteFailed) return;
  try {
    AbandonTemporaryFile(job.file);
  } catch (...) {
    job.leftBehind = std::current_exception();
  }
}

struct SessionFree {
  void operator()(trimbit_session* session) const { trimbit_session_free(session); }
};
using SessionOwner = std::unique_ptr<trimbit_session, SessionFree>;

class Scheduler {
 public:
  Scheduler(Run& run, uint32_t workers)
      : run_(run),
        settings_(run.settings),
        total_(run.fileList.names.size()),
        lookAhead_(workers + 1),
        jobs_(total_) {
    for (uint32_t i = 0; i < workers; ++i) {
      sessions_.emplace_back(NewRunSession(run.settings));
    }
    threads_.reserve(workers);
  }

  ~Scheduler() { Stop(); }

  // Starts the threads; returns how many started.
  uint32_t Start() {
    OpenJobs();
    SignalsHeld held;  // the threads inherit the mask: signals go to this thread alone
    for (const SessionOwner& owner : sessions_) {
      try {
        threads_.emplace_back([this, session = owner.get()] { Work(session); });
      } catch (const std::system_error&) {
        break;  // as many as the system gives
      }
    }
    return static_cast<uint32_t>(threads_.size());
  }

  void CommitAll() {
    for (size_t k = 0; k < total_; ++k) {
      FileJob* job;
      {
        std::unique_lock<std::mutex> lock(mutex_);
        jobDone_.wait(lock, [&] { return jobs_[k]->ready; });
        job = jobs_[k].get();
      }
      Commit(*job);
      std::unique_ptr<FileJob> finished;
      {
        std::lock_guard<std::mutex> lock(mutex_);
        finished = std::move(jobs_[k]);
        committed_ = k + 1;
      }
      finished.reset();  // its bytes and descriptors, outside the lock
      OpenJobs();
    }
  }

  // Lets the workers finish the files in hand and removes every temporary
  // file made ahead; one that cannot be removed is left to the run's
  // clean-up to report.
  void Stop() noexcept {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stopping_ = true;
    }
    workAvailable_.notify_all();
    for (std::thread& thread : threads_) thread.join();  // before their sessions go
    threads_.clear();
    for (std::unique_ptr<FileJob>& job : jobs_) {
      if (!job) continue;
      try {
        if (job->leftBehind) std::rethrow_exception(job->leftBehind);
        AbandonTemporaryFile(job->file);
      } catch (...) {
        if (!run_.leftBehind) run_.leftBehind = std::current_exception();
      }
      job->leftBehind = nullptr;
    }
  }

 private:
  // While it lives, no worker starts to prepare a temporary file, and none
  // is preparing one.
  class PreparationsPaused {
   public:
    explicit PreparationsPaused(Scheduler& scheduler) : scheduler_(scheduler) {
      std::unique_lock<std::mutex> lock(scheduler_.mutex_);
      scheduler_.paused_ = true;
      scheduler_.jobDone_.wait(lock, [&] { return scheduler_.preparing_ == 0; });
    }
    ~PreparationsPaused() {
      std::lock_guard<std::mutex> lock(scheduler_.mutex_);
      scheduler_.paused_ = false;
    }
    PreparationsPaused(const PreparationsPaused&) = delete;
    PreparationsPaused& operator=(const PreparationsPaused&) = delete;

   private:
    Scheduler& scheduler_;
  };

  // Removes the temporary files prepared for the files after the one being
  // committed (with preparations paused), so that they take no room the
  // same run one file after another would have; they are prepared again at
  // their turn. Returns whether there were any.
  bool DiscardLaterPreparations() {
    std::vector<FileJob*> later;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      for (size_t i = committed_ + 1; i < opened_; ++i)
        if (jobs_[i]->ready && jobs_[i]->prepared) later.push_back(jobs_[i].get());
    }
    bool any = false;
    for (FileJob* job : later) {  // ready: no worker touches them
      any = any || job->preparation.stage == Preparation::kReady;
      if (job->leftBehind) std::rethrow_exception(job->leftBehind);
      AbandonTemporaryFile(job->file);
      job->prepared = false;
      job->preparation = {};
    }
    return any;
  }

  // Creates the jobs the look-ahead allows (here, so that a failed
  // allocation ends the run on this thread) and wakes the workers.
  void OpenJobs() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      while (opened_ < total_ && opened_ < committed_ + lookAhead_) {
        jobs_[opened_] = std::make_unique<FileJob>();
        jobs_[opened_]->name = run_.fileList.names[opened_];
        jobs_[opened_]->format = run_.fileList.formats[opened_];
        // Open files span at most lookAhead_ indexes: no two share a slot.
        jobs_[opened_]->file.target.cleanupSlot = static_cast<int>(1 + opened_ % lookAhead_);
        ++opened_;
      }
    }
    workAvailable_.notify_all();
  }

  // The mode file `index` most likely finds: the one its nearest computed
  // predecessor left, else the one the last commit left. With the mutex held.
  unsigned Predict(size_t index) const {
    for (size_t j = index; j-- > committed_;) {
      const FileJob& earlier = *jobs_[j];
      if (earlier.done && earlier.leavesMode) return earlier.leftMode;
    }
    return actualMode_;
  }

  void Work(trimbit_session* session) {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      workAvailable_.wait(lock, [&] { return stopping_ || next_ < opened_ || next_ >= total_; });
      if (stopping_ || next_ >= total_) return;
      FileJob& job = *jobs_[next_];
      const unsigned mode = Predict(next_);
      ++next_;
      lock.unlock();
      Compute(job, session, settings_, mode);
      lock.lock();
      job.done = true;
      job.leavesMode = job.optimised && !job.failure;
      job.leftMode = job.result.carried_mode;
      // The costly part of the commit, on this thread while the committer
      // is busy with earlier files.
      if (!stopping_ && !paused_ && job.optimised && !job.streamed && !job.failure &&
          !job.result.keep_original) {
        ++preparing_;
        lock.unlock();
        Prepare(job, settings_.preserveDate != 0);
        lock.lock();
        --preparing_;
      }
      job.ready = true;
      jobDone_.notify_all();
    }
  }

  // Runs the file again on this thread with the mode actually carried in.
  void RunAgain(FileJob& job) {
    if (job.leftBehind) std::rethrow_exception(job.leftBehind);
    AbandonTemporaryFile(job.file);  // made of the earlier run's bytes
    job.prepared = false;
    job.preparation = {};
    job.failure = nullptr;  // the earlier run's failure may have come from the wrong mode
    try {
      Optimise(job, run_.session, LibraryOptions(settings_), actualMode_);
    } catch (...) {
      job.failure = std::current_exception();
    }
  }

  // The commit step: prints and replaces as ProcessFile does.
  void Commit(FileJob& job) {
    RunSettings& settings = run_.settings;
    PrintHeader(settings, job.name);
    if (job.links > 1) {
      ReportLinks(settings, job.links);
      return;  // the mode passes on untouched
    }
    if (!job.streamed && job.optimised && job.predictedMode != actualMode_) {
      const trimbit_result& r = job.result;
      if (job.failure || r.read_carried_mode) {
        ++run_.stats.reruns;  // its bytes (or its failure) may differ
        RunAgain(job);
      } else if (r.carried_mode == job.predictedMode) {
        // It left the mode it was given: written by its own search, or
        // never written and passed on; only a run on another mode tells.
        ++run_.stats.modeChecks;
        RunAgain(job);
      }
    }
    if (job.streamed) {
      PreparationsPaused paused(*this);  // its temporary file must find the room it would alone
      DiscardLaterPreparations();
      std::swap(run_.file, job.file);  // CleanUp's from here on
      if (trimbit_session_set_carried_mode(run_.session, actualMode_) != TRIMBIT_OK)
        Fault("Commit(): Carried mode refused!?!?!?");
      const trimbit_result result = ProcessStreamedFile(run_, job.name);
      std::lock_guard<std::mutex> lock(mutex_);
      actualMode_ = result.carried_mode;
      return;
    }
    for (const HeldLine& line : job.lines)
      PrintMessage(settings, line.level, "%s", line.text.c_str());
    if (job.failure) std::rethrow_exception(job.failure);
    if (job.leftBehind) std::rethrow_exception(job.leftBehind);
    std::swap(run_.file, job.file);  // CleanUp's from here on
    const bool preserveDate = settings.preserveDate != 0;
    Preparation preparation;
    if (job.prepared) {
      preparation = std::move(job.preparation);
    } else {
      run_.file.tempFileName = TemporaryFileName(job.name);
      preparation = PrepareTemporaryFile(run_.file, job.result, preserveDate);
    }
    // What failed ahead of the file's turn, or beside later files' temporary
    // files, may have failed for their sake: it counts only when it fails
    // again at its turn with no other temporary file about.
    if (PreparationFailed(preparation)) {
      PreparationsPaused paused(*this);
      if (DiscardLaterPreparations() || job.prepared) {
        AbandonTemporaryFile(run_.file);
        run_.file.tempFileName = TemporaryFileName(job.name);
        preparation = PrepareTemporaryFile(run_.file, job.result, preserveDate);
      }
    }
    CompleteFile(run_, job.name, job.result, preparation);
    std::lock_guard<std::mutex> lock(mutex_);
    actualMode_ = job.result.carried_mode;
  }

  Run& run_;
  const RunSettings settings_;  // the workers' copy: the console changes the run's own
  const size_t total_;
  const size_t lookAhead_;              // files opened ahead of the last commit
  std::vector<SessionOwner> sessions_;  // one per worker
  std::vector<std::thread> threads_;

  std::mutex mutex_;
  std::condition_variable workAvailable_, jobDone_;
  std::vector<std::unique_ptr<FileJob>> jobs_;  // by list index, while open
  size_t opened_ = 0, next_ = 0, committed_ = 0;
  unsigned actualMode_ = 0;  // the mode the last committed file left
  bool stopping_ = false;
  bool paused_ = false;   // no new preparations (see PreparationsPaused)
  size_t preparing_ = 0;  // workers preparing a temporary file
};

}  // namespace

static_assert(1 + kMostWorkers + 1 <= kCleanupSlots, "a signal cleanup slot per open file");

uint32_t DefaultWorkers() {
  const long online = ::sysconf(_SC_NPROCESSORS_ONLN);
  if (online < 1) return 1;
  return online > static_cast<long>(kMostWorkers) ? kMostWorkers : static_cast<uint32_t>(online);
}

namespace {

// Each open file holds up to four descriptors at once (its folder, the file,
// its temporary file and a stream's own); a few more serve the console and
// the library. Files opened ahead must not take the descriptors that one
// file after another would have had: that would fail where -j1 succeeds.
uint32_t WorkersTheDescriptorsAllow(uint32_t workers) {
  constexpr rlim_t kPerOpenFile = 4, kSpare = 8;
  struct rlimit limit;
  if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return workers;
  const rlim_t openFiles = limit.rlim_cur > kSpare ? (limit.rlim_cur - kSpare) / kPerOpenFile : 0;
  // The file being committed is open beside the workers' files.
  if (openFiles < 2) return 0;
  return openFiles - 1 < workers ? static_cast<uint32_t>(openFiles - 1) : workers;
}

}  // namespace

void ProcessFilesInParallel(Run& run, uint32_t workers) {
  Scheduler scheduler(run, WorkersTheDescriptorsAllow(workers));
  run.stats.workers = scheduler.Start();
  if (run.stats.workers == 0) {
    for (size_t i = 0; i < run.fileList.names.size(); ++i)
      ProcessFile(run, run.fileList.names[i], run.fileList.formats[i]);
    return;
  }
  scheduler.CommitAll();
}

}  // namespace trimbit
