// Shell link files (".lnk") and taskbar pins, through the shell's automation
// objects: "WScript.Shell" (wshom.ocx) writes links, "Shell.Application"
// finds and invokes an item's verbs.
//
// Paths and texts are GBK. Neither operation throws or shows anything.
#pragma once

#include "base/text.h"

namespace zul {

// What a link stores, set in this order after the target.
struct ShellLinkFields {
  Text target;          // full path of the file the link starts
  Text workingFolder;   // may end with "\"
  Text iconLocation;    // "file,index", a file alone (index 0), or empty
  Text description;
  Text arguments;
};

class ShellLinks {
 public:
  virtual ~ShellLinks() = default;

  // Writes the link file `linkPath` (its folder must exist) with show state
  // 0 and no hot key, replacing a link of that name. False when the link
  // object cannot be made or it refuses the target; when only a later
  // property or the save fails the result is still true and the file may be
  // missing.
  virtual bool createLink(const Text& linkPath, const ShellLinkFields& fields) = 0;

  // Invokes, on the item `fileName` of `folder`, every verb whose caption
  // equals the shell's "pin to taskbar" caption (pin) or "unpin from
  // taskbar" caption (unpin). Nothing happens when the system has no such
  // caption (Wine, and Windows versions that no longer offer the verb) or
  // the item has no such verb.
  virtual void pinToTaskbar(const Text& folder, const Text& fileName, bool pin) = 0;
};

}  // namespace zul
