// What the folder of a log says about it: the server's naming schemes (daily INyymmdd.log,
// monthly INyymm.log, iaslogN.log, or a common prefix and a counter), which tell the file that
// continues a log once the server has moved on to a new one; and the folder of saved line
// indexes that a reader keeps for the logs it opens, bounded in size.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace velloran {

// Whether the file named ACandidate continues the log named ACurrent (names without folders):
// the same scheme and a later place in it. The scheme is the name's letters before its last
// run of digits, what follows that run, and the extension, all ignoring case; runs of digits
// compare as numbers (iaslog9 < iaslog10). A daily and a monthly log are different schemes
// (IN + six digits, IN + four digits). A name without digits is followed by the names that
// add a counter to it (radius.log < radius1.log).
bool ContinuesLog(std::string_view ACurrent, std::string_view ACandidate);

// The latest log in ACurrentPath's folder that continues it (a path), or empty text when none
// does or the folder cannot be read. One listing of the folder: fast with thousands of files.
std::string NewestLogAfter(const std::string& ACurrentPath);

// The logs of folder AFolder, as paths in name order (counters as numbers): the files named
// by a server's schemes (INyymmdd.log, INyymm.log, iaslogN.log), or, when there are none,
// every *.log. Throws std::filesystem::filesystem_error naming the folder when it cannot be
// read. One listing: fast with thousands of files.
std::vector<std::string> LogsInFolder(const std::string& AFolder);

// The folder of saved line indexes: AFolder when given, else the user's cache folder followed
// by "velloran-viewer/index". Empty text when neither can be named.
std::string IndexCacheFolder(const std::string& AFolder = {});
// Removes the least recently written index files (*.idx) of AFolder until they take at most
// AMaxBytes together; AKeep (a path) is never removed. Returns how many were removed; a file
// that cannot be removed is passed over.
int TrimIndexCache(const std::string& AFolder, uint64_t AMaxBytes, const std::string& AKeep = {});
inline constexpr uint64_t kIndexCacheMaxBytes = uint64_t{512} << 20;

}  // namespace velloran
