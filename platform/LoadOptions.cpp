/** @file
  Load options as an argument list.
**/
#include "platform/LoadOptions.h"
#include "platform/LoadedImage.h"
#include "platform/UefiLib.h"

LOAD_OPTIONS_KIND
SplitLoadOptions (
  const VOID             *Options,
  UINT32                 Size,
  LOAD_OPTION_ARGUMENTS  *Arguments
  )
{
  const CHAR16  *Line  = (const CHAR16 *)Options;
  UINTN         Units  = (Size % sizeof (CHAR16) == 0) ? Size / sizeof (CHAR16) : 0;
  CHAR16        *Out   = Arguments->Text;
  BOOLEAN       InWord = FALSE;
  BOOLEAN       Quoted = FALSE;

  //
  // Each word ends where a separator or the terminator stood, so the words
  // and their terminators fit in the line's own length after Text[0]. The
  // line is split as it is checked; what is split of a line refused is
  // never used.
  //
  *Out++             = 0;
  Arguments->Argv[0] = Arguments->Text;
  Arguments->Argc    = 1;
  for (UINTN Index = 0; ; Index++) {
    if ((Index >= Units) || (Index >= LOAD_OPTION_MAX_UNITS)) {
      return LoadOptionsIgnored;
    }

    CHAR16  Unit = Line[Index];

    if (Unit == 0) {
      break;
    }

    if ((Unit < u' ') && (Unit != u'\t')) {
      return LoadOptionsIgnored;
    }

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
  Status       = gBS->HandleProtocol (ImageHandle, &gEfiLoadedImageProtocolGuid, (VOID **)&Image);
  if (EFI_ERROR (Status) || (Image == nullptr) || (Image->LoadOptions == nullptr) || (Image->LoadOptionsSize == 0)) {
    return LoadOptionsNone;
  }

  Kind = SplitLoadOptions (Image->LoadOptions, Image->LoadOptionsSize, Arguments);
  if (Kind == LoadOptionsIgnored) {
    *IgnoredSize = Image->LoadOptionsSize;
  }

  return Kind;
}
