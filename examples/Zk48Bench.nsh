@echo -off
#
# Zk48Bench.nsh IMAGE BACKUP: the bench workflow for one panel. Run it from
# the volume that holds Zk48Update.efi and IMAGE; BACKUP must be a new name.
#   1. Zk48Update.efi -d BACKUP   the whole E2PROM saved to a new file;
#                                 nothing is written without it
#   2. Zk48Update.efi IMAGE       the update
#   3. Zk48Update.efi -c IMAGE    the E2PROM compared with IMAGE, every byte
# When 2 fails, or 3 finds a difference or cannot compare, BACKUP is written
# back (Zk48Update.efi BACKUP) and the E2PROM compared with it
# (Zk48Update.efi -c BACKUP).
#
# The last line says how it ended ("ZK48 BENCH: PASS ..." or "... FAIL ...");
# the exit status, %lasterror% after the script, tells a calling script:
#   0  PASS: IMAGE written, the E2PROM identical to it
#   1  IMAGE or BACKUP not given: nothing done
#   2  the backup failed (or BACKUP exists already): the panel was not written
#   3  the update or its compare failed; after writing BACKUP back the
#      E2PROM is identical to it: the panel holds its previous image again
#   4  the update or its compare failed, and after writing BACKUP back the
#      E2PROM differs from it: the panel does NOT hold its previous image
#   5  the update or its compare failed, and after writing BACKUP back the
#      E2PROM could not be compared with it (the E2PROM or BACKUP could not be
#      read): whether the panel holds its previous image is unknown
# In cases 3 to 5 the line above the last says what failed, whether writing
# BACKUP back succeeded (or its status) and what the compare with it found;
# BACKUP holds the previous image: Zk48Update.efi BACKUP writes it again.
#
if x%2 == x then
  echo "usage: Zk48Bench.nsh IMAGE BACKUP   (BACKUP: a new file to save the E2PROM in)"
  exit /b 1
endif

Zk48Update.efi -d %2
if %lasterror% ne 0 then
  echo "ZK48 BENCH: STOPPED, no backup in %2, the panel was not written."
  exit /b 2
endif

Zk48Update.efi %1
if %lasterror% ne 0 then
  set -v Zk48BenchFailure "the update with %1 failed"
  goto Restore
endif

Zk48Update.efi -c %1
# The tool ends a compare that found differences with EFI_CRC_ERROR (27);
# any other failure means the compare could not be made.
if %lasterror% == 27 then
  set -v Zk48BenchFailure "after the update the E2PROM was not identical to %1"
  goto Restore
endif
if %lasterror% ne 0 then
  set -v Zk48BenchFailure "after the update the E2PROM could not be compared with %1"
  goto Restore
endif

echo "ZK48 BENCH: PASS, %1 written and identical, the backup is in %2."
exit /b 0

#
# The screen now shows only the last run: the line above the last one says
# what failed, whether writing the backup back succeeded, and what the
# compare with the backup found.
#
:Restore
Zk48Update.efi %2
if %lasterror% == 0 then
  set -v Zk48BenchWriteBack "the backup was written back"
else
  set -v Zk48BenchWriteBack "writing the backup back failed (status %lasterror%)"
endif

Zk48Update.efi -c %2
if %lasterror% == 0 then
  echo "ZK48 BENCH: %Zk48BenchFailure%; %Zk48BenchWriteBack%, and the E2PROM is identical to it."
  set -d Zk48BenchFailure
  set -d Zk48BenchWriteBack
  echo "ZK48 BENCH: FAIL, the panel holds its previous image again, the backup is in %2."
  exit /b 3
endif

if %lasterror% == 27 then
  echo "ZK48 BENCH: %Zk48BenchFailure%; %Zk48BenchWriteBack%, but the E2PROM differs from it."
  set -d Zk48BenchFailure
  set -d Zk48BenchWriteBack
  echo "ZK48 BENCH: FAIL, the panel does NOT hold its previous image, the backup is in %2."
  exit /b 4
endif

echo "ZK48 BENCH: %Zk48BenchFailure%; %Zk48BenchWriteBack%, then the E2PROM could not be compared with it."
set -d Zk48BenchFailure
set -d Zk48BenchWriteBack
echo "ZK48 BENCH: FAIL, unknown whether the panel holds its previous image, the backup is in %2."
exit /b 5
