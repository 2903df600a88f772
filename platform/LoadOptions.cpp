/** @file
  Load options as an argument list.
**/
#include "platform/LoadOptions.h"
#include "platform/LoadedImage.h"
#include "platform/UefiLib.h"

namespace {

/**
  Returns the number of units of the line, its terminator included, or 0
  when the options are no line of text: no terminator within Units, a
  control character before it, or longer than a line the tool takes.
**/
UINTN
LineLength (
  const CHAR16  *Options,
  UINTN         Units
  )
{
  for (UINTN Index = 0; Index < Units; Index++) {
    if (Options[Index] == 0) {
      return (Index < LOAD_OPTION_MAX_UNITS) ? Index + 1 : 0;
    }

    if ((Options[Index] < u' ') && (Options[Index] != u'\t')) {
      return 0;
    }
  }

  return 0;
}

} // namespace

LOAD_OPTIONS_KIND
SplitLoadOptions (
  const VOID             *Options,
  UINT32                 Size,
  LOAD_OPTION_ARGUMENTS  *Arguments
  )
{
  const CHAR16  *Line  = (const CHAR16 *)Options;
  UINTN         Length = (Size % sizeof (CHAR16) == 0) ? LineLength (Line, Size / sizeof (CHAR16)) : 0;
  CHAR16        *Out   = Arguments->Text;
  BOOLEAN       InWord = FALSE;
  BOOLEAN       Quoted = FALSE;

  if (Length == 0) {
    return LoadOptionsIgnored;
  }

  //
  // Each word ends where a separator or the terminator stood, so the words
  // and their terminators fit in the line's own length after Text[0].
  //
  *Out++             = 0;
  Arguments->Argv[0] = Arguments->Text;
  Arguments->Argc    = 1;
  for (UINTN Index = 0; Index + 1 < Length; Index++) {
    CHAR16  Unit = Line[Index];

    if (!Quoted && ((Unit == u' ') || (Unit == u'\t'))) {
      if (InWord) {
        *Out++ = 0;
        InWord = FALSE;
      }

      continue;
    }

    if (!InWord) {
      Arguments->Argv[Arguments->Argc++] = Out;
      InWord                             = TRUE;
    }

    if (Unit == u'"') {
      Quoted = !Quoted;
    } else {
      *Out++ = Unit;
    }
  }

  *Out                             = 0;
  Arguments->Argv[Arguments->Argc] = nullptr;
  return LoadOptionsCommandLine;
}

LOAD_OPTIONS_KIND
GetLoadOptionArguments (
  EFI_HANDLE             ImageHandle,
  LOAD_OPTION_ARGUMENTS  *Arguments,
  UINT32                 *IgnoredSize
  )
{
  EFI_LOADED_IMAGE_PROTOCOL  *Image = nullptr;
  LOAD_OPTIONS_KIND          Kind;
  EFI_STATUS                 Status;

  *IgnoredSize = 0;
  Status       = gBS->OpenProtocol (ImageHandle, &gEfiLoadedImageProtocolGuid, (VOID **)&Image, ImageHandle, nullptr, EFI_OPEN_PROTOCOL_GET_PROTOCOL);
  if (EFI_ERROR (Status) || (Image == nullptr) || (Image->LoadOptions == nullptr) || (Image->LoadOptionsSize == 0)) {
    return LoadOptionsNone;
  }

  Kind = SplitLoadOptions (Image->LoadOptions, Image->LoadOptionsSize, Arguments);
  if (Kind == LoadOptionsIgnored) {
    *IgnoredSize = Image->LoadOptionsSize;
  }

  return Kind;
}
