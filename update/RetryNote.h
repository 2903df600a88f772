/** @file
  The line that says a command met a bus that was not perfect and still
  succeeded: what was sent again, what was read again.
**/
#ifndef UPDATE_RETRY_NOTE_H_
#define UPDATE_RETRY_NOTE_H_

#include "platform/Base.h"

/**
  Prints one note line when this run sent refused transactions again or
  read BytesReread E2PROM bytes again until two reads agreed; nothing when
  neither happened. For a command that succeeded, before its last line.
**/
VOID
ShowRetryNote (
  UINT32  BytesReread
  );

#endif
