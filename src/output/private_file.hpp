// New files in the output folder that no other run can meet, whether it runs
// at the same time or later: on Linux an unnamed file (O_TMPFILE) in the
// folder, which exists only for the run holding it open and vanishes with it
// however the run ends, even by SIGKILL; where the file system refuses that
// (NFS, where survey clusters often keep their data, or a kernel without
// it) a file under a name made unique at its creation (mkstemp), which the
// run must remove itself. Either kind can later be given a unique name in
// the folder, from which a rename puts it in place.
//
//   create_private_file      a new empty file, unnamed where possible
//   name_private_file        a unique name for an unnamed one (a hard link)
//   unique_name              a fresh unique name for any file-making step
//   force_named_private_files  tests: behave as where unnamed files are refused
#pragma once

#include <functional>
#include <string>

namespace qv {

struct PrivateFile {
  int fd = -1;       // open for reading and writing
  std::string name;  // its name in the folder; empty while it has none
};

// Creates a new empty file in the folder of `beside` (a path in the output
// folder), with the permissions a new file gets (0666 less the umask). A
// named one is called beside + ".XXXXXX" + suffix, the X's made unique.
// Raises an Error naming `what` and the folder when it cannot be created.
// Signals should be held back (InterruptsHeld) until a named one is
// registered or removed.
PrivateFile create_private_file(const std::string& beside, const std::string& suffix, const std::string& what);

// Links the unnamed file fd under a unique name beside + ".XXXXXX" + suffix
// and returns it; "" when the file system refuses (errno tells why).
std::string name_private_file(int fd, const std::string& beside, const std::string& suffix);

// Calls make(name) with names beside + ".XXXXXX" + suffix until it succeeds
// (returns 0) and returns that name, or until it fails otherwise than with
// EEXIST (the name is taken) and returns "" with errno set.
std::string unique_name(const std::string& beside, const std::string& suffix,
                        const std::function<int(const char*)>& make);

// Tests: every new private file is a named one, as where the file system
// refuses unnamed files.
void force_named_private_files(bool on);

}  // namespace qv
