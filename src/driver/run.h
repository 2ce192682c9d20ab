// The program's entry: options, banner and help, the file pass, processing,
// clean-up and the run summary. Holds the only handler of thrown errors.
#pragma once

namespace trimbit {

struct Run;

// Returns the exit status: 0 when the run completes (or shows the help),
// 1 when it ends with an error line.
int RunTrimbit(int argc, char** argv);

// Releases everything the run holds; may run any number of times.
void CleanUp(Run& run);

}  // namespace trimbit
