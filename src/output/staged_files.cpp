#include "output/staged_files.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>

#include "common/error.hpp"
#include "output/private_file.hpp"

namespace qv {

namespace {

std::string reason() { return std::strerror(errno); }

std::string quoted(const std::string& s) { return "\"" + s + "\""; }

}  // namespace

StagedFile::StagedFile(std::string final_path, std::string what)
    : final_(std::move(final_path)), what_(std::move(what)) {}

void StagedFile::create() {
  discard();
  const InterruptsHeld held;  // a named file is registered before a signal acts
  PrivateFile f = create_private_file(final_, ".part", what_);
  file_ = ::fdopen(f.fd, "w+b");
  if (!file_) {
    const std::string why = reason();
    ::close(f.fd);
    if (!f.name.empty()) ::unlink(f.name.c_str());
    throw Error("cannot open the new " + what_ + " " + quoted(final_) + " (" + why + ")");
  }
  temp_ = f.name;
  if (!temp_.empty()) guard_.set(temp_);
  created_ = true;
}

// Step 1 for one member: its content on the disk, a temporary name, closed.
void StagedFile::finish() {
  if (std::fflush(file_) != 0 || ::fsync(::fileno(file_)) != 0)
    throw Error("cannot write the " + what_ + " " + quoted(final_) + " (" + reason() + ")");
  if (temp_.empty()) {
    temp_ = name_private_file(::fileno(file_), final_, ".part");
    if (temp_.empty())
      throw Error("cannot give the new " + what_ + " " + quoted(final_) + " a temporary name in its folder (" +
                  reason() + ")");
  }
  guard_.clear();  // signals are held back until the set is in place or gone
  const bool closed = std::fclose(file_) == 0;
  file_ = nullptr;
  if (!closed) throw Error("cannot write the " + what_ + " " + quoted(final_) + " (" + reason() + ")");
}

void StagedFile::discard() {
  if (file_) std::fclose(file_);
  file_ = nullptr;
  if (!temp_.empty()) ::unlink(temp_.c_str());
  temp_.clear();
  guard_.clear();
  created_ = false;
  backup_.clear();
  backup_linked_ = placed_ = false;
}

std::vector<std::string> StagedSet::publish() {
  if (members_.empty() || !members_.back()->created())
    throw Error("the result was put in place before it was written");
  InterruptsHeld held;
  // An interrupt that has come already ends the run before anything changes.
  held.let_pending_act();
  try {
    for (StagedFile* m : members_)
      if (m->created()) m->finish();

    for (std::size_t i = 0; i + 1 < members_.size(); ++i) {
      StagedFile& m = *members_[i];
      struct stat st {};
      if (::lstat(m.final_.c_str(), &st) != 0) {
        if (errno != ENOENT)
          throw Error("cannot look at the " + m.what_ + " " + quoted(m.final_) + " (" + reason() + ")");
      } else if (S_ISDIR(st.st_mode)) {
        // A folder of the name is no earlier file of this run's kind.
        if (m.created_)
          throw Error("cannot put the new " + m.what_ + " in place: " + quoted(m.final_) + " is a folder");
        continue;
      } else {
        // The earlier file: a second name keeps it in view until the new
        // one replaces it; a file system without hard links moves it.
        if (m.created_)
          m.backup_ = unique_name(m.final_, ".old", [&](const char* n) { return ::link(m.final_.c_str(), n); });
        m.backup_linked_ = !m.backup_.empty();
        if (m.backup_.empty())
          m.backup_ = unique_name(m.final_, ".old", [&](const char* n) { return ::rename(m.final_.c_str(), n); });
        if (m.backup_.empty())
          throw Error("cannot set the earlier " + m.what_ + " " + quoted(m.final_) + " aside (" + reason() + ")");
      }
      if (m.created_) {
        if (::rename(m.temp_.c_str(), m.final_.c_str()) != 0)
          throw Error("cannot put the new " + m.what_ + " in place as " + quoted(m.final_) + " (" + reason() + ")");
        m.temp_.clear();
        m.placed_ = true;
      }
    }

    StagedFile& result = *members_.back();
    if (::rename(result.temp_.c_str(), result.final_.c_str()) != 0)
      throw Error("cannot put the new " + result.what_ + " in place as " + quoted(result.final_) + " (" + reason() +
                  ")");
    result.temp_.clear();
    result.placed_ = true;
  } catch (const Error& e) {
    const std::string left = roll_back();
    const std::string msg = std::string(e.what()) + (left.empty() ? "; the earlier files are left as they were" : left);
    for (StagedFile* m : members_) m->discard();
    throw Error(msg);
  }

  // The commit point is passed: the result and its companions are in place.
  std::vector<std::string> warnings;
  for (StagedFile* m : members_) {
    if (!m->backup_.empty() && ::unlink(m->backup_.c_str()) != 0)
      warnings.push_back("the earlier " + m->what_ + " " + quoted(m->final_) + " is left as " + quoted(m->backup_) +
                         " (" + reason() + "); remove it");
    m->discard();
  }
  if (held.discard_pending())
    warnings.push_back("an interrupt came while the result " + quoted(members_.back()->final_) +
                       " was put in place, too late to stop the run: the result is complete");
  return warnings;
}

// Gives the companions put in place so far their earlier files back, last
// first. Returns what could not be restored, as the end of a message.
std::string StagedSet::roll_back() {
  std::string left;
  for (auto it = members_.rbegin(); it != members_.rend(); ++it) {
    StagedFile& m = **it;
    if (&m == members_.back()) continue;  // the result was not replaced
    bool ok = true;
    if (!m.backup_.empty())
      ok = m.backup_linked_ && !m.placed_ ? ::unlink(m.backup_.c_str()) == 0 || errno == ENOENT
                                           : ::rename(m.backup_.c_str(), m.final_.c_str()) == 0;
    else if (m.placed_)
      ok = ::unlink(m.final_.c_str()) == 0;
    if (!ok)
      left += "; besides, the earlier " + m.what_ + " " + quoted(m.final_) + " could not be put back (" + reason() +
              (m.backup_.empty() ? ")" : "): it is kept as " + quoted(m.backup_));
  }
  return left;
}

}  // namespace qv
