#pragma once

#include <string>

// Replaces the file at `path` with `contents` so that a reader sees either
// the old file or the new one, never a part of either: the data go to a
// temporary file in the same folder, reach the disk, and only then take the
// old file's place. The folder is created when missing. The new file gets
// `mode` (the temporary file is created with it, so there is never a moment
// when others may read it). A symbolic link is followed: its target is
// replaced and the link kept. A file marked read-only is not replaced.
// Throws Exception("Unable to write to " + path) on any failure; the old
// file is then unchanged and no temporary file is left behind.
void WriteFileAtomically(const std::string& path, const std::string& contents, unsigned mode);
