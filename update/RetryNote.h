/** @file
  The lines that say a command met a bus that was not perfect: the note of
  one that still succeeded (what was sent again, what was read again), and
  what the bus refused when one gave up.
**/
#ifndef UPDATE_RETRY_NOTE_H_
#define UPDATE_RETRY_NOTE_H_

#include "platform/Base.h"

/**
  Prints one note line when the bus refused any transaction of this run,
  or BytesReread E2PROM bytes were read again because two reads of them
  differed; nothing when neither happened. For a command that succeeded,
  before its last line.
**/
VOID
ShowRetryNote (
  UINT32  BytesReread
  );

/** Prints how many transactions the bus refused, of how many sent, and why the tool stopped sending them again. **/
VOID
ShowBusRefusals (
  );

#endif
