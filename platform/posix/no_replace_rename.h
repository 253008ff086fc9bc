// The POSIX layer's rename to a new name for file systems whose rename cannot refuse a taken
// name itself (RENAME_NOREPLACE answered with EINVAL: exFAT, FAT, some network file systems).
// Declared apart so that its tests can reach it on any file system.
#ifndef FERRYWICK_PLATFORM_POSIX_NO_REPLACE_RENAME_H
#define FERRYWICK_PLATFORM_POSIX_NO_REPLACE_RENAME_H

namespace fw {

// Renames source to target, which must not exist, in steps that can never replace anything:
// a second name made with link (which refuses a taken name) and the first removed; where the
// file system has no links, the name taken first by an exclusive creation (an empty file, or
// an empty folder for a folder) and the entry then renamed over that placeholder of its own.
// 0, or the errno of the failure (EEXIST: the name is taken; source is then as it was).
int renameWithoutReplacing(const char* source, const char* target);
// The same with each name taken in a folder descriptor (AT_FDCWD: the current folder).
int renameWithoutReplacingAt(int sourceDir, const char* source, int targetDir,
                             const char* target);

}  // namespace fw

#endif  // FERRYWICK_PLATFORM_POSIX_NO_REPLACE_RENAME_H
