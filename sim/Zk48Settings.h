/** @file
  The simulator's settings in words, as a technician writes them in
  Zk48Sim.cfg or gives them to Zk48SimCtl.efi: "mcu=0x10", "ready-after=never".
**/
#ifndef SIM_ZK48_SETTINGS_H_
#define SIM_ZK48_SETTINGS_H_

#include "platform/Base.h"
#include "sim/Zk48Chip.h"

/**
  Applies one setting, "name=value" or a bare "reset", to Chip. Length
  units of Text are read; no terminator is needed. Returns FALSE, changing
  nothing, when the name or the value is not understood.
**/
BOOLEAN
Zk48ApplySetting (
  ZK48_CHIP     *Chip,
  const CHAR16  *Text,
  UINTN         Length
  );

/**
  Applies every line of a settings file (bytes, LF or CR LF line ends,
  blank lines and lines starting with '#' skipped). Returns the number of
  the first line not understood, 0 when all were.
**/
UINTN
Zk48ApplySettingsFile (
  ZK48_CHIP    *Chip,
  const UINT8  *Text,
  UINTN        Size
  );

// One setting as the technician types it, and what it does, for help and errors.
struct ZK48_SETTING_HELP {
  const CHAR8    *Name;
  const CHAR8    *Line;    // one console line, the name and its values first
};

extern const ZK48_SETTING_HELP  gZk48SettingHelp[];
extern const UINTN              gZk48SettingHelpCount;

/**
  The help line of the setting that Text ("drop-block=0x0801", Length
  units) names, so that a setting refused can be shown with its rule.
  Returns NULL when Text names no setting.
**/
const CHAR8 *
Zk48SettingHelpFor (
  const CHAR16  *Text,
  UINTN         Length
  );

#endif
