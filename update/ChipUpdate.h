/** @file
  Writing a loaded image into the chip's E2PROM with a running percentage,
  and checking the result.
**/
#ifndef UPDATE_CHIP_UPDATE_H_
#define UPDATE_CHIP_UPDATE_H_

#include "platform/Base.h"
#include "update/ImageFile.h"

enum CHIP_UPDATE_RESULT {
  ChipUpdateVerified,       // every block written, version byte read back equal
  ChipUpdateMismatch,       // the version byte read back differs from the image's
  ChipUpdateBlocksFailed,   // the host controller refused one or more block writes
  ChipUpdateReadTimeout,    // the chip never signalled the version byte ready
  ChipUpdateReadFailed      // a bus transaction of the version read failed
};

extern UINT32  mBlockOffset;

/**
  Writes all blocks of the loaded image, verifies the version byte, then
  releases ImageFile. Returns how the update ended; the console says why.
**/
CHIP_UPDATE_RESULT
UpdateChipImage (
  CHIP_IMAGE_FILE  *ImageFile
  );

#endif
