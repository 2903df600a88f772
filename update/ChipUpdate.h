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

/**
  Writes all blocks of the loaded image, verifies the version byte, then
  releases ImageFile. Returns ChipDone when every block was stored and the
  version byte reads back equal; ChipFailed for a block refused at every
  attempt or a version that differs; the console says why.
**/
CHIP_RESULT
UpdateChipImage (
  CHIP_IMAGE_FILE  *ImageFile
  );

#endif
