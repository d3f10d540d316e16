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
  //
  // With a `journal` (a file name, see SetJournal), a kill during the renames
  // cannot leave the set half old and half new either. Every complete
  // temporary file gets its name while a journal that lists them says "undo";
  // then the journal says "redo" and the renames follow; the journal goes
  // last. Recover, run on the journal a kill left, removes the temporary
  // files (undo: the old set is whole) or renames the rest (redo: the new set
  // is whole). What a kill can leave is the journal and the temporary files
  // it lists, nothing else.
  static void CommitTogether(const std::vector<SafeSave *> &saves,
                             const std::string &journal = std::string());
  // Carries out the journal a killed commit left and removes it; false when
  // there is none. Waits for a commit that holds the folder. Raises
  // FileTools::Error when the journal is not one or cannot be carried out.
  static bool Recover(const std::string &journal);

  const std::string &Target() const;

private:
  struct State;
  static void CommitJournalled(const std::vector<SafeSave *> &saves, const std::string &journal,
                               const std::vector<int> &folders);
  std::unique_ptr<State> state_;
};

// The journal of a set of files that share the name prefix `prefix`, as an
// import's P-<class>.dat, P.ranges and P.param do: "P.journal".
std::string SetJournal(const std::string &prefix);
// Raises FileTools::Error when the set that `file` belongs to (P.<extension>:
// P.param or P.ranges) has a journal: its replacement is under way or was
// interrupted, and reading the set now could mix old and new files.
void RequireNoSetJournal(const std::string &file);

} // namespace kestrane

#endif
