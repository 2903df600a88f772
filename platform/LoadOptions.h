/** @file
  The arguments of a program that no shell started: the load options of
  its boot entry (efibootmgr's unicode optional data, QEMU's -append), a
  UCS-2 line of arguments split into words as the shell splits them.
**/
#ifndef PLATFORM_LOAD_OPTIONS_H_
#define PLATFORM_LOAD_OPTIONS_H_

#include "platform/Base.h"

// The longest line taken, its terminator included.
constexpr UINTN  LOAD_OPTION_MAX_UNITS = 256;
// A word takes a unit and a separator at least, the last word no separator.
constexpr UINTN  LOAD_OPTION_MAX_WORDS = LOAD_OPTION_MAX_UNITS / 2;

//
// An argument list in the shell's shape. Argv[0] stands for the program's
// name, which load options do not carry: it is empty.
//
struct LOAD_OPTION_ARGUMENTS {
  UINTN     Argc;
  CHAR16    *Argv[LOAD_OPTION_MAX_WORDS + 2];
  CHAR16    Text[LOAD_OPTION_MAX_UNITS + 1];
};

enum LOAD_OPTIONS_KIND {
  LoadOptionsNone,          // the image was given no load options
  LoadOptionsCommandLine,   // Arguments holds their words
  LoadOptionsIgnored        // binary data, an odd size, no terminator, a line too long
};

/**
  Splits Size bytes of load options at Options into Arguments: words
  separated by spaces or tabs, a double quote starting or ending a stretch
  in which they are not, the quotes themselves dropped. Options must be
  aligned as CHAR16 (the firmware's pool is). Returns
  LoadOptionsCommandLine when the options are such a line, terminated
  within Size, without control characters, and not longer than
  LOAD_OPTION_MAX_UNITS.
**/
LOAD_OPTIONS_KIND
SplitLoadOptions (
  const VOID             *Options,
  UINT32                 Size,
  LOAD_OPTION_ARGUMENTS  *Arguments
  );

/**
  Takes the arguments from the load options of ImageHandle's loaded image.
  *IgnoredSize receives the size of load options that are not a command
  line, 0 otherwise.
**/
LOAD_OPTIONS_KIND
GetLoadOptionArguments (
  EFI_HANDLE             ImageHandle,
  LOAD_OPTION_ARGUMENTS  *Arguments,
  UINT32                 *IgnoredSize
  );

#endif
