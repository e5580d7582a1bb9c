// The picture library (libvips) as the host uses it: started once, its
// complaints gathered into one message per failure.
#pragma once

#include <vips/vips.h>

#include <memory>
#include <string>

struct CUnref {
  void operator()(void* object) const {
    if (object) g_object_unref(object);
  }
};
using CVipsImage = std::unique_ptr<VipsImage, CUnref>;
using CVipsSource = std::unique_ptr<VipsSource, CUnref>;
using CVipsTarget = std::unique_ptr<VipsTarget, CUnref>;

// Starts the library once per process; false with the reason when it cannot.
bool StartPictureLibrary(const char* programName, std::string& error);
std::string PictureLibraryVersion();
// How many threads read and write each picture from now on; 0 one per core.
void SetPictureThreads(int threads);
int PictureThreads();

// Each read or write starts with a clean slate.
void ForgetLibraryComplaints();
// The library's first complaint, on one line, with the system's cause where
// a system call failed; the buffer is emptied so that the next failure is
// not blamed on this one.
std::string TakeLibraryError();
// Whether a decoder has said, since the last ForgetLibraryComplaints, that
// the data ended before the picture did.
bool DataEndedEarly();
