// The files of a run's result, written aside in the output folder and put in
// place together at the end, each under its final name whole or not at all.
// Until then every member is a private file (private_file.hpp): unnamed,
// or under a unique name ending in ".part", so no other run can meet it and
// none is left when the run fails. Putting the set in place:
//  1. every member is flushed to the disk (on NFS a write error may show
//     only now) and given a unique temporary name: still nothing changed;
//  2. the companions, in the order they were added, replace their final
//     names; an earlier file of a name is kept under a temporary name
//     meanwhile, and a companion this run did not write has its earlier
//     file taken away, since it would describe another result;
//  3. the last member, the result, replaces its final name: the commit
//     point. Its appearance means the whole set is there.
// A failure before the commit point puts the earlier companions back and
// raises an Error: a run that reports failure has changed nothing. After it
// only the kept earlier files are removed; what fails there is a warning,
// as is an interrupt that came too late to stop the run (the signals are
// held back while the set is put in place).
//
//   StagedFile           one member: create, write through stream(), discard
//   StagedSet::add       the members in the order they are put in place
//   StagedSet::publish   puts the set in place; returns the warnings
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "output/interrupt_cleanup.hpp"

namespace qv {

class StagedFile {
 public:
  // `what` names the file in messages ("Fourier-coefficient file").
  StagedFile(std::string final_path, std::string what);
  ~StagedFile() { discard(); }
  StagedFile(const StagedFile&) = delete;
  StagedFile& operator=(const StagedFile&) = delete;

  // Creates the private file, empty; a named one is final_path +
  // ".XXXXXX.part" and is removed by an interrupt. Raises an Error naming
  // the file when it cannot be created.
  void create();
  bool created() const { return created_; }
  // The buffered stream of the content, open from create() to publish().
  std::FILE* stream() const { return file_; }
  const std::string& final_path() const { return final_; }
  const std::string& what() const { return what_; }

  // Closes the file and removes its temporary name: nothing of it is left.
  void discard();

 private:
  friend class StagedSet;
  void finish();
  std::string final_, what_;
  std::FILE* file_ = nullptr;
  bool created_ = false;
  std::string temp_;     // its temporary name ("" while unnamed or once in place)
  InterruptName guard_;  // temp_ while signals may come
  // While the set is put in place:
  std::string backup_;         // the earlier file of final_, under a temporary name
  bool backup_linked_ = false;  // ... as a second name (final_ named it too until replaced)
  bool placed_ = false;        // final_ names this run's file
};

class StagedSet {
 public:
  // Adds a member; members are put in place in the order added, and the
  // last one added is the result. A member that was never created stands
  // for a companion this run does not write.
  void add(StagedFile& f) { members_.push_back(&f); }

  // Puts the set in place (steps 1-3 above). Raises an Error naming the
  // file and the reason when it cannot; nothing is changed then. Returns the
  // warnings of what went wrong after the commit point, each a sentence.
  std::vector<std::string> publish();

 private:
  std::string roll_back();
  std::vector<StagedFile*> members_;
};

}  // namespace qv
