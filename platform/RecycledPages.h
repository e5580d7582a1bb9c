// Anonymous pages for large buffers, kept a while after they are given back
// for the next request of the same length: buffers come and go in the same
// few sizes (a run's stages, the next run on the same picture), and a first
// touch of fresh pages costs far more than writing pages already there.
//
// What is kept is bounded in number and bytes, and goes back to the system
// before a request that none of it fits, so keeping pages never raises the
// process's peak beyond what its live buffers reach. Safe on any thread.
#pragma once

#include <cstddef>

// At least bytes read-write private pages, their length in length; null
// when the system refuses. A kept mapping serves a request a little shorter
// than itself, so buffers that differ by some padding share mappings; else
// the shortest longer one gives its front, else kept pages are gathered. Kept
// pages hold what was left in them unless zero is asked for; fresh ones are
// zero. populate: fresh pages are made present at once (for buffers written
// whole).
void *TakePages(size_t bytes, bool zero, bool populate, size_t &length);
// Fresh zero pages of exactly bytes, never kept ones.
void *TakeFreshPages(size_t bytes, bool populate);
// Pages of TakePages or TakeFreshPages, with the length they came with.
// False when the system refused to unmap them.
bool GivePagesBack(void *address, size_t length);

// Every kept mapping goes back to the system.
void ReleaseKeptPages();
size_t KeptPageBytes();
