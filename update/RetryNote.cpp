/** @file
  The note of a command that succeeded on a bus that was not perfect.
**/
#include "update/RetryNote.h"
#include "chip/TconChip.h"
#include "platform/PrintLib.h"

VOID
ShowRetryNote (
  UINT32  BytesReread
  )
{
  if ((mTransactionsResent == 0) && (BytesReread == 0)) {
    return;
  }

  Print (" Note: ");
  if (mTransactionsResent == 1) {
    Print ("1 bus transaction was refused and sent again");
  } else if (mTransactionsResent > 1) {
    Print ("%d bus transactions were refused and sent again", mTransactionsResent);
  }

  if ((mTransactionsResent != 0) && (BytesReread != 0)) {
    Print ("; ");
  }

  if (BytesReread == 1) {
    Print ("1 E2PROM byte was read again until two reads agreed");
  } else if (BytesReread > 1) {
    Print ("%d E2PROM bytes were read again until two reads agreed", BytesReread);
  }

  Print (".\n");
}
