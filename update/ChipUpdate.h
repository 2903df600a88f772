/** @file
  Writing a loaded image into the chip's E2PROM with a running percentage,
  and checking the result.
**/
#ifndef UPDATE_CHIP_UPDATE_H_
#define UPDATE_CHIP_UPDATE_H_

#include "chip/TconChip.h"
#include "platform/Base.h"
#include "update/ImageFile.h"

extern UINT32  mBlockOffset;

// The versions an update saw: the chip's before it wrote, the E2PROM's after.
struct UPDATE_VERSIONS {
  UINT8      Current;         // the MCU version the chip reported before the write, when CurrentKnown
  UINT8      ReadBack;        // the version byte read back, when ReadBackKnown
  BOOLEAN    ReadBackKnown;
  BOOLEAN    CurrentKnown;
};

/**
  Writes all blocks of the loaded image, verifies the version byte, then
  releases ImageFile. Returns ChipDone when every block was stored and the
  version byte reads back equal; ChipFailed for a block refused at every
  attempt or a version that differs; the console says why. *Versions
  receives what was read.
**/
CHIP_RESULT
UpdateChipImage (
  CHIP_IMAGE_FILE  *ImageFile,
  UPDATE_VERSIONS  *Versions
  );

#endif
