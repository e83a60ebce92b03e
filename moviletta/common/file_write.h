// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include "moviletta/common/file_system.h"

namespace moviletta {

// The hidden name beside `target` under which its new content is written before it is renamed
// into place: ".<name>.part".
std::filesystem::path PartialPath(const std::filesystem::path& target);

// Replaces the file at `path` with `bytes` as a whole or not at all: they are written under
// PartialPath and renamed over it; with `sync_to_disk` they are on the disk before the rename, and
// the rename too before it returns, so that a power loss also leaves one or the other. Throws
// Error 75 "cannot write <path>", carrying the system's error number, from `source`, when that
// fails before the rename, leaving the former file as it was and no partial one; once renamed,
// the new file is in place, and a folder that cannot be synced then throws Error 75 "<path> is
// written, but ...". With `owner_only` the file is created readable and writable by its owner
// alone (0600), never wider for a moment.
void WriteFileWhole(const std::string& path, std::string_view bytes, const char* source,
                    bool sync_to_disk = false, bool owner_only = false,
                    FileSystem& files = LocalFileSystem());

// Creates the empty file `path`, or empties the one there, readable and writable by its owner
// alone (0600) whatever the umask, for a library that then opens it by name to write (FFmpeg's
// avio_open keeps the mode of a file that exists). Throws Error 75 "cannot create <path>",
// carrying the system's error number, from `source`.
void CreateOwnFile(const std::string& path, const char* source);

// Makes the folder `folder` for its owner alone (0700), its missing parents as the umask says,
// unless it exists. Throws Error 75 naming the folder, from `source`, when it cannot (a file of
// that name included).
void MakeOwnFolder(const std::filesystem::path& folder, const char* source);

// Makes `to` (which must not exist) a second name of the file `from` or, where no link can be
// made (another file system), a copy of it. Returns the system's error number of what stopped
// both, 0 on success; `to` is not synced.
int LinkOrCopy(const std::filesystem::path& from, const std::filesystem::path& to,
               FileSystem& files = LocalFileSystem());

// Waits until the file or folder at `path` (a folder: its list of names) is on the disk. Throws
// Error 75 when that fails.
void SyncToDisk(const std::filesystem::path& path, FileSystem& files = LocalFileSystem());

}  // namespace moviletta
