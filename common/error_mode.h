// How each program starts: before it touches any disk or volume.
#pragma once

namespace tavu {

// SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX). Otherwise a
// drive without its medium (an empty card-reader slot) makes Windows show
// "There is no disk in the drive" and wait for a click before the call fails;
// the programs then stop on a box that nobody asked for, often hidden behind
// their own window. With it, such a call fails at once with ERROR_NOT_READY.
void FailCriticalErrorsQuietly();

}  // namespace tavu
