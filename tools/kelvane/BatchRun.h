// Many pictures through one session script, each in a process of its own so
// that a picture that fails or crashes never stops the others.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "tools/kelvane/HostOptions.h"

struct CBatchPicture {
  std::string input;   // as named, or the folder named joined with the path inside it
  std::string output;  // DIR/<path inside the folder><name>.<ext>
};

// The pictures of `options.inputs`, in the order the inputs are named and,
// inside a folder, sorted by their path in it. A folder stands for the files
// in it of a format the program reads (hidden ones skipped; below it with `recursive`); a
// file named is taken whatever its kind. False, with the reason, when an
// input is missing, the result folder is an input folder, two pictures would
// be written to one result, or a result would replace its own input.
// `skippedFolders`, when given, receives how many folders inside the input
// folders were passed over for want of `recursive`. Needs libvips started.
bool CollectBatch(const CHostOptions& options, std::vector<CBatchPicture>& pictures,
                  std::string& error, size_t* skippedFolders = nullptr);

// False, with how many and which, when results exist already and neither
// --overwrite nor --skip-existing says what to do with them.
bool CheckExistingResults(const CHostOptions& options, const std::vector<CBatchPicture>& pictures,
                          std::string& error);

// True when `output` exists and was modified after `input`: a run that
// stopped part way resumes where it stopped.
bool ResultIsCurrent(const std::string& input, const std::string& output);

// The command line of the process that runs one picture, after the program's
// own name; `threads` (0: not said) is how many threads it reads and writes
// the picture with, `memoryShare` (0: not said) the bytes of memory it may use.
std::vector<std::string> ChildArguments(const CHostOptions& options,
                                        const CBatchPicture& picture, int threads = 0,
                                        uint64_t memoryShare = 0);

// The memory each job may use: jobs side by side share what is available
// when the batch begins; 0 (no share) for a single job.
uint64_t MemoryPerJob(uint64_t available, size_t jobs);

// The threads each job gets: what --threads says, else an equal share of the
// cores, at least one.
int ThreadsPerJob(const CHostOptions& options, long cores, size_t jobs);

// "37/200 done, 1 failed, 2.1 pictures/s"; the rate only once a picture has run.
std::string ProgressText(size_t done, size_t total, size_t failed, size_t ran, double seconds);

// "INPUT: reason", or the reason alone where it names the input itself.
std::string FailureLine(const std::string& input, const std::string& reason);

// Why a picture's process failed, from its wait status and what it wrote to
// standard error; empty when it succeeded.
std::string FailureReason(int waitStatus, const std::string& standardError);

// The whole batch; returns the program's exit status. Needs libvips started.
int RunBatch(const CHostOptions& options);
