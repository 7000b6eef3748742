// The freedesktop.org trash: what Recycle moves files and folders to on
// POSIX. An item on the volume of the user's data folder goes to the home
// trash ($XDG_DATA_HOME/Trash, else ~/.local/share/Trash); an item elsewhere
// goes to its volume's own ($topdir/.Trash/$uid where an administrator made
// .Trash, else $topdir/.Trash-$uid). Each item gets an info file with its
// original path and the time of deletion, so a file manager can put it back.
#pragma once

// What MoveToTrash returns when the item's volume has no trash that can be
// used (none can be made there): the caller deletes for good.
constexpr int kNoTrash = -1;

// Moves the file, link or folder at path (with everything in it) to its
// trash, under its own name or, when that is taken there, a name made unique
// without trying names one by one. Returns 0, kNoTrash or an errno; on
// failure the item is where it was and no info file is left.
int MoveToTrash(const char* path);
