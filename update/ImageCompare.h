/** @file
  The comparison of the whole E2PROM with a loaded image, writing nothing.
**/
#ifndef UPDATE_IMAGE_COMPARE_H_
#define UPDATE_IMAGE_COMPARE_H_

#include "platform/Base.h"
#include "update/ImageFile.h"

enum IMAGE_COMPARE_RESULT {
  ImageCompareIdentical,    // every E2PROM byte equals the image's
  ImageCompareDiffers,      // one or more bytes differ
  ImageCompareReadTimeout,  // the chip never signalled a byte ready
  ImageCompareReadFailed    // a bus transaction of the read failed
};

/**
  Reads the whole E2PROM and compares it with the loaded image, then
  releases ImageFile. Returns how the comparison ended; the console shows
  both CRC-32 values and the first bytes that differ.
**/
IMAGE_COMPARE_RESULT
CompareChipImage (
  CHIP_IMAGE_FILE  *ImageFile
  );

#endif
