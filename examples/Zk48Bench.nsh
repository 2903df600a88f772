@echo -off
#
# Zk48Bench.nsh IMAGE BACKUP: the bench workflow for one panel. Run it from
# the volume that holds Zk48Update.efi and IMAGE; BACKUP must be a new name.
#   1. Zk48Update.efi -d BACKUP   the whole E2PROM saved to a new file;
#                                 nothing is written without it
#   2. Zk48Update.efi IMAGE       the update
#   3. Zk48Update.efi -c IMAGE    the E2PROM compared with IMAGE, every byte
# When 2 fails after its first block write (0x7 or 0x12), or 3 finds a
# difference or cannot compare, BACKUP is written back (Zk48Update.efi
# BACKUP) and the E2PROM compared with it (Zk48Update.efi -c BACKUP).
#
# Every run of the tool clears the screen, so the last lines name each step
# that ran, its status as %lasterror% shows it and what it found:
#   ZK48 BENCH: -c image.bin: 0x1B, 8 bytes differ, the first at 0x0800.
# The last line says how it ended; the exit status, %lasterror% after the
# script, tells a calling script:
#   0x0  PASS: IMAGE written, the E2PROM identical to it
#   0x1  IMAGE or BACKUP not given: nothing done
#   0x2  the backup failed (or BACKUP exists already): the panel was not
#        written
#   0x3  the update or its compare failed; after writing BACKUP back the
#        E2PROM is identical to it: the panel holds its previous image again
#   0x4  the update or its compare failed, and after writing BACKUP back the
#        E2PROM differs from it: the panel does NOT hold its previous image
#   0x5  the update or its compare failed, and after writing BACKUP back the
#        E2PROM could not be compared with it (the E2PROM or BACKUP could not
#        be read): whether the panel holds its previous image is unknown
#   0x6  the update ended before its first block write, with any status but
#        0x7 or 0x12 (IMAGE missing or not 8192 bytes, the chip not found):
#        the panel was not written, and nothing is written back
# In 0x3 to 0x6 BACKUP holds the previous image: Zk48Update.efi BACKUP writes
# it again. With file names of up to 16 characters each line fits in 79
# columns.
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

#
# A step's status is kept at once, before another command (an echo or a
# set too) sets %lasterror% again. Written and Found turn it into words,
# then go back to the label in Zk48BenchNext.
#
set -v Zk48BenchCompare "not made, the update failed"
set -v Zk48BenchWriteBack "not made"
Zk48Update.efi %1
set -v Zk48BenchStatus %lasterror%
set -v Zk48BenchNext Updated
goto Written
:Updated
set -v Zk48BenchUpdate "%Zk48BenchFound%"
if %Zk48BenchStatus% == 0 then
  goto Compare
endif
if %Zk48BenchStatus% == 0x7 then
  goto Restore
endif
if %Zk48BenchStatus% == 0x12 then
  goto Restore
endif

# Any other status ended the update before its first block write.
echo "ZK48 BENCH: -d %2: 0x0, backup saved."
echo "ZK48 BENCH: %1: %Zk48BenchUpdate%."
set -v Zk48BenchNext Stopped
goto Cleanup

:Compare
Zk48Update.efi -c %1
set -v Zk48BenchStatus %lasterror%
set -v Zk48BenchNext Compared
goto Found
:Compared
set -v Zk48BenchCompare "%Zk48BenchFound%"
if %Zk48BenchStatus% == 0 then
  echo "ZK48 BENCH: -d %2: 0x0, backup saved."
  echo "ZK48 BENCH: %1: %Zk48BenchUpdate%."
  echo "ZK48 BENCH: -c %1: %Zk48BenchCompare%."
  set -v Zk48BenchNext Passed
  goto Cleanup
endif

:Restore
Zk48Update.efi %2
set -v Zk48BenchStatus %lasterror%
set -v Zk48BenchNext WrittenBack
goto Written
:WrittenBack
set -v Zk48BenchWriteBack "%Zk48BenchFound%"

Zk48Update.efi -c %2
set -v Zk48BenchStatus %lasterror%
set -v Zk48BenchNext Checked
goto Found
:Checked
echo "ZK48 BENCH: -d %2: 0x0, backup saved."
echo "ZK48 BENCH: %1: %Zk48BenchUpdate%."
echo "ZK48 BENCH: -c %1: %Zk48BenchCompare%."
echo "ZK48 BENCH: %2: %Zk48BenchWriteBack%."
echo "ZK48 BENCH: -c %2: %Zk48BenchFound%."
set -v Zk48BenchNext Unknown
if %Zk48BenchStatus% == 0 then
  set -v Zk48BenchNext Restored
endif
if %Zk48BenchStatus% == 0x1B then
  set -v Zk48BenchNext NotRestored
endif
goto Cleanup

#
# The endings: the script's own variables deleted, then the last line.
#
:Cleanup
set -d Zk48BenchStatus
set -d Zk48BenchFound
set -d Zk48BenchUpdate
set -d Zk48BenchCompare
set -d Zk48BenchWriteBack
goto %Zk48BenchNext%

:Passed
set -d Zk48BenchNext
echo "ZK48 BENCH: PASS, %1 written and identical."
exit /b 0

:Restored
set -d Zk48BenchNext
echo "ZK48 BENCH: FAIL, the panel holds its previous image again."
exit /b 3

:NotRestored
set -d Zk48BenchNext
echo "ZK48 BENCH: FAIL, the panel does NOT hold its previous image."
exit /b 4

:Unknown
set -d Zk48BenchNext
echo "ZK48 BENCH: FAIL, unknown whether the panel holds its previous image."
exit /b 5

:Stopped
set -d Zk48BenchNext
echo "ZK48 BENCH: STOPPED, the panel was not written, nothing was written back."
exit /b 6

#
# What an update or a write-back did, by its status: the tool names the
# reason of a failed write in Zk48Reason.
#
:Written
set -v Zk48BenchFound "%Zk48BenchStatus%, nothing written"
if %Zk48BenchStatus% == 0 then
  set -v Zk48BenchFound "0x0, written, version byte checked"
endif
if %Zk48BenchStatus% == 0x7 then
  set -v Zk48BenchFound "0x7, %Zk48Reason%"
endif
if %Zk48BenchStatus% == 0x12 then
  set -v Zk48BenchFound "0x12, %Zk48Reason%"
endif
goto %Zk48BenchNext%

#
# What a compare found, by its status: the tool leaves the count and the
# first address of the bytes that differ in Zk48Differences and
# Zk48FirstDifference.
#
:Found
set -v Zk48BenchFound "%Zk48BenchStatus%, not compared"
if %Zk48BenchStatus% == 0 then
  set -v Zk48BenchFound "0x0, identical"
endif
if %Zk48BenchStatus% == 0x1B then
  set -v Zk48BenchFound "0x1B, %Zk48Differences% bytes differ, the first at %Zk48FirstDifference%"
endif
if %Zk48BenchStatus% == 0x12 then
  set -v Zk48BenchFound "0x12, an E2PROM read timed out"
endif
if %Zk48BenchStatus% == 0x7 then
  set -v Zk48BenchFound "0x7, an E2PROM read failed"
endif
goto %Zk48BenchNext%
