#pragma once

#include <QString>
#include <QStringList>
#include <cstdint>
#include <cstdio>
#include <vector>

namespace pixavant::cli {

// The files of a run, in order: those named on the command line, then the image files of the
// directory trees, then those a list file names (one name a line, or each name ended by a NUL
// byte; empty names are passed over). The list is streamed, never held: each start() reads it
// again from the beginning, and a list that cannot be read twice (standard input, a pipe) is
// copied to an unnamed temporary file on the first reading. Trees are walked again the same way.
class SourceList {
  public:
    // `listFile` "-" is the file descriptor `inputFd`; empty: no list file. `trees`: directories
    // whose image files are taken, sub-directories in name order after the files.
    SourceList(QStringList paths, QString listFile, bool nulSeparated, int inputFd,
               QStringList trees = {});
    ~SourceList();
    SourceList(const SourceList&) = delete;
    SourceList& operator=(const SourceList&) = delete;

    // Tree files whose name ends so (letter case counts) are passed over: the outputs of an
    // earlier run written beside their sources.
    void skipInTrees(QString ending) { treeSkipEnding_ = std::move(ending); }

    // Starts a reading at the first name. False, with `error` set, when the list cannot be opened.
    bool start(QString& error);

    enum class Next { Name, End, Error };
    // The next name as given (relative names are relative to the working directory). Error: the
    // list could not be read (or its reading was interrupted by a signal); `error` says why.
    Next next(QString& path, QString& error);
    // True when the name last returned was named on the command line.
    bool lastFromCommandLine() const { return fromCommandLine_; }
    // For a name from a tree: the absolute directory holding the tree's top (ending in "/"), from
    // which its place in the tree is counted; empty otherwise.
    const QString& lastTreeBase() const { return treeBase_; }

  private:
    bool openList(QString& error);
    void closeList();
    bool nextInTrees(QString& path);

    QStringList paths_;
    QString listFile_;
    char delimiter_;
    int inputFd_;
    qsizetype nextPath_ = 0;
    bool fromCommandLine_ = false;
    std::FILE* list_ = nullptr;  // the list as given
    std::FILE* copy_ = nullptr;  // its copy, for a list that cannot be read twice
    std::FILE* reading_ = nullptr;
    bool copying_ = false;
    char* line_ = nullptr;
    size_t lineCapacity_ = 0;

    // A directory being walked: its image files and sub-directories, in name order.
    struct Folder {
        QStringList files;
        QStringList folders;
        qsizetype nextFile = 0;
        qsizetype nextFolder = 0;
        bool listed = false;
    };
    QStringList trees_;
    qsizetype nextTree_ = 0;
    QString treeTop_;  // the tree's resolved path, ending in "/": links must stay under it
    QString treeBase_;
    QString treeSkipEnding_;
    std::vector<std::pair<QString, Folder>> walk_;  // from the tree's top down to the current one
};

// The absolute form of `path` against the directory `cwd`, without "." and ".." parts: the same
// file names the same text (no file is looked at).
QString absoluteCleanPath(const QString& path, const QString& cwd);

// Paths as compact keys (a 64-bit hash of the text), so that even a list of millions of files is
// held in a few bytes a file: enough to tell whether an output would replace a source, or whether
// two files of a list write the same output.
class PathKeys {
  public:
    static uint64_t keyOf(const QString& path);

    void add(const QString& path) { keys_.push_back(keyOf(path)); }
    // Sorts the keys and drops repeats: contains() is right only after it. Returns the keys that
    // had been added more than once.
    PathKeys seal();
    bool contains(const QString& path) const { return contains(keyOf(path)); }
    bool contains(uint64_t key) const;
    bool empty() const { return keys_.empty(); }
    int64_t size() const { return int64_t(keys_.size()); }

  private:
    std::vector<uint64_t> keys_;
};

}  // namespace pixavant::cli
