/** @file
  The note of a command that succeeded on a bus that was not perfect, and
  the count of refusals of one that gave up.
**/
#include "update/RetryNote.h"
#include "chip/TconChip.h"
#include "platform/PrintLib.h"

VOID
ShowRetryNote (
  UINT32  BytesReread
  )
{
  if ((mTransactionsRefused == 0) && (BytesReread == 0)) {
    return;
  }

  Print (" Note: ");
  if (mTransactionsRefused == 1) {
    Print ("1 bus transaction was refused and sent again");
  } else if (mTransactionsRefused > 1) {
    Print ("%d bus transactions were refused and sent again", mTransactionsRefused);
  }

  if ((mTransactionsRefused != 0) && (BytesReread != 0)) {
    Print ("; ");
  }

  if (BytesReread == 1) {
    Print ("1 E2PROM byte was read again until two reads agreed");
  } else if (BytesReread > 1) {
    Print ("%d E2PROM bytes were read again until two reads agreed", BytesReread);
  }

  Print (".\n");
}

namespace {

// The attempts the line below spells out.
constexpr UINTN  ATTEMPTS_IN_WORDS = 5;

} // namespace

VOID
ShowBusRefusals (
  )
{
  static_assert (CHIP_ATTEMPTS == ATTEMPTS_IN_WORDS, "the line names 5 times in a row");
  Print (
    " The bus refused %d of %d transactions, %a.\n",
    mTransactionsRefused,
    mTransactionsSent,
    (mTransactionsRefused >= CHIP_REFUSALS_LIMIT) ? "more than a run sends again" : "the last one 5 times in a row"
    );
}
