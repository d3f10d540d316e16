#ifndef KESTRANE_FILEHANDLER_SAFESAVE_H
#define KESTRANE_FILEHANDLER_SAFESAVE_H

// The one way the programs write a file. A regular or missing target is written
// to an unnamed temporary file in its folder and renamed over the target only
// when complete and on disk, so a failure or a kill never leaves a truncated
// target, and nothing but the finished file ever gets a name. A symlink is
// followed and its target written the same way; a character device or a FIFO
// is written straight through; anything else is refused.

#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

namespace kestrane {

class SafeSave {
public:
  // Finds out what `target` is and, for a file to replace, creates the
  // temporary file and keeps it. Raises FileTools::Error ("cannot write
  // <target>: <reason>") on a directory, another kind of file, or a folder
  // that does not take the temporary file.
  explicit SafeSave(const std::string &target);
  // An uncommitted save is abandoned: the temporary file goes, the target stays.
  ~SafeSave();
  SafeSave(const SafeSave &) = delete;
  SafeSave &operator=(const SafeSave &) = delete;

  // Where the contents go. A device or FIFO is opened (and locked) on the first
  // call, which for a FIFO waits for a reader.
  std::ostream &Stream();
  // Makes the written contents the target's; raises FileTools::Error (the
  // system's reason, "No space left on device" for one) and removes the
  // temporary file on failure.
  void Commit();
  // Commits several saves as one: each is written out and synced first, then
  // all are renamed while their folders are locked, so that concurrent runs
  // writing the same set never leave it half one run's and half the other's.
  static void CommitTogether(const std::vector<SafeSave *> &saves);

  const std::string &Target() const;

private:
  struct State;
  std::unique_ptr<State> state_;
};

} // namespace kestrane

#endif
