// The project as a document: the file it was last opened from or saved to, whether its folder
// columns changed since, the window title naming it, the message for a file that does not open
// as a project, and the list of recently used projects of the File menu.
#ifndef FERRYWICK_APP_LOGIC_PROJECT_SESSION_H
#define FERRYWICK_APP_LOGIC_PROJECT_SESSION_H

#include <string>
#include <vector>

#include "app/logic/workspace.h"
#include "core/result.h"
#include "platform/fs.h"

namespace fw {

// Marks the two folder columns as they are now as the project's stored content, and path
// (empty: none yet) as its file; a file names the "File system" entry of both kind boxes.
void markProjectSaved(Workspace& ws, const std::u16string& path);
// Whether the folder columns differ from what was last opened, saved or started new. Compared
// as the rows the file would hold: a short column counts as padded with empty strings, and
// trailing rows empty on both sides do not count.
bool projectChanged(const Workspace& ws);

// The main window's title: "<file name> - Ferrywick", "Untitled - Ferrywick" before the project
// has a file.
std::u16string projectTitle(const Workspace& ws);
// The project's name in questions about it: its file name, or "Untitled".
std::u16string projectName(const Workspace& ws);

// The message for a file that loadProject refused with rc: what is wrong with it and its name.
// "Wrong file format! <path> is damaged" (ours, but not readable to its end), "... is not a
// project of this program", "... is a saved state, not a project" (and a saved difference);
// "<path> cannot be opened" / "cannot be read" where the file system refused it.
std::u16string projectRefusalText(Fs& fs, const std::u16string& path, Rc rc);

// The recently used projects, most recent first, at most kRecentProjects. Paths are compared
// as Windows compares them: without regard to case.
inline constexpr size_t kRecentProjects = 8;
// Puts path first, dropping an older entry of the same path and what falls beyond the limit.
void rememberRecent(std::vector<std::u16string>& recent, const std::u16string& path);
// Drops the entry of path, if any.
void forgetRecent(std::vector<std::u16string>& recent, const std::u16string& path);
// A File menu item: "&1 C:\p.fwp" for index 0; an "&" of the path shows as itself.
std::u16string recentMenuText(size_t index, const std::u16string& path);

}  // namespace fw

#endif  // FERRYWICK_APP_LOGIC_PROJECT_SESSION_H
