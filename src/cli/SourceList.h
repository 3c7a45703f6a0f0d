#pragma once

#include <QString>
#include <QStringList>
#include <cstdint>
#include <cstdio>
#include <vector>

namespace pixavant::cli {

// The files of a run, in order: those named on the command line, then those a list file names
// (one name a line, or each name ended by a NUL byte; empty names are passed over). The list is
// streamed, never held: each start() reads it again from the beginning, and a list that cannot be
// read twice (standard input, a pipe) is copied to an unnamed temporary file on the first reading.
class SourceList {
  public:
    // `listFile` "-" is the file descriptor `inputFd`; empty: no list file.
    SourceList(QStringList paths, QString listFile, bool nulSeparated, int inputFd);
    ~SourceList();
    SourceList(const SourceList&) = delete;
    SourceList& operator=(const SourceList&) = delete;

    // Starts a reading at the first name. False, with `error` set, when the list cannot be opened.
    bool start(QString& error);

    enum class Next { Name, End, Error };
    // The next name as given (relative names are relative to the working directory). Error: the
    // list could not be read (or its reading was interrupted by a signal); `error` says why.
    Next next(QString& path, QString& error);
    // True when the name last returned was named on the command line.
    bool lastFromCommandLine() const { return fromCommandLine_; }

  private:
    bool openList(QString& error);
    void closeList();

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

  private:
    std::vector<uint64_t> keys_;
};

}  // namespace pixavant::cli
