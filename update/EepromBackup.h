/** @file
  The backup of the whole E2PROM into a new file on the volume its name is
  on (update/FileVolume.h). A backup is an image: writing it back restores
  the chip.
**/
#ifndef UPDATE_EEPROM_BACKUP_H_
#define UPDATE_EEPROM_BACKUP_H_

#include "chip/TconChip.h"
#include "platform/Base.h"
#include "platform/SimpleFileSystem.h"
#include "update/FileVolume.h"

// The backup's name as the messages give it: a mapping, a backslash and a
// path as long as the file system takes (260 units), the terminator.
constexpr UINTN  BACKUP_NAME_SIZE = MAPPING_NAME_SIZE + 1 + 260;

//
// What the backup holds while it runs. A handle is set only when the call
// that produces it succeeded; the release step closes exactly those.
//
struct EEPROM_BACKUP {
  const CHAR16         *FileName;      // as the messages name it: as given, or in Named
  const CHAR16         *Path;          // the name on its volume
  EFI_FILE_PROTOCOL    *Root;
  EFI_FILE_PROTOCOL    *File;          // the new file, until it is closed or deleted
  CHIP_RESULT          Read;          // how reading the E2PROM ended; ChipDone too when it was never reached
  UINT32               BytesReread;   // bytes the two passes disagreed on
  BOOLEAN              CrcKnown;      // the saved content's CRC-32 was worked out
  UINT32               Crc;
  EFI_STATUS           Status;        // how the file ended; EFI_SUCCESS once it is whole and reads back
  CHAR16               Named[BACKUP_NAME_SIZE];   // a plain name after the shell's name of its volume; last,
                                                  // so that the fields above stay near the start
};

/**
  Reads the whole E2PROM, every byte proven, into the new file FileName,
  which must not exist. Returns TRUE when the file holds all of it, flushed, closed and
  read back equal. FALSE: the console, and Backup->Read or Backup->Status,
  say why, and no file of that name was left behind by this run.
**/
BOOLEAN
SaveEepromBackup (
  const CHAR16   *FileName,
  EEPROM_BACKUP  *Backup
  );

#endif
