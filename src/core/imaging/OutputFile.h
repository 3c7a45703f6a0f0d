#pragma once

#include <QByteArray>
#include <QString>

#include "imaging/ImagingStatus.h"

namespace pixavant::imaging {

// A new file written beside its final place and renamed into place when complete: a failed or
// abandoned save leaves nothing behind and never touches an existing file of that name.
//
// The final name may hold bytes that are not UTF-8 (FileNames.h): the temporary file then gets a
// UTF-8 name, in a folder named by a path the libraries can open, and is renamed to the very
// bytes. The temporary name fits wherever the final name fits.
//
// In memory, the same steps write an anonymous memory file instead, which the writers reach by its
// /proc/self/fd path: nothing is written to any file system, and commit() reads the bytes.
class OutputFile {
  public:
    struct InMemory {};

    explicit OutputFile(QString finalPath);
    explicit OutputFile(InMemory);
    ~OutputFile();  // removes the temporary file unless commit() succeeded
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Creates the temporary file. Returns kSuccess or kErrWrite.
    Status create();
    const QString& temporaryPath() const { return tempPath_; }
    // Flushes the temporary file to disk. Returns kSuccess or kErrWrite.
    Status sync();
    // Flushes the temporary file to disk (unless sync() did) and renames it to the final path.
    // Returns kSuccess or kErrWrite.
    Status commit();
    // In memory: the bytes written, once commit() succeeded.
    const QByteArray& contents() const { return contents_; }

    // Why the last step failed: the output's path and the cause ("out/a.JPG (permission
    // denied)"); empty when none did.
    const QString& failure() const { return failure_; }
    // The same for a writer that failed to write the temporary file, with the errno it left.
    QString writeFailure(int error) const;

  private:
    Status fail(int error);
    Status commitToMemory();

    QString finalPath_;
    QString tempPath_;
    QByteArray tempName_;  // in the output folder
    QByteArray finalName_;
    int dirFd_ = -1;     // the output folder
    int memoryFd_ = -1;  // in memory: the memory file, -1 otherwise
    bool inMemory_ = false;
    QByteArray contents_;
    QString failure_;
    bool synced_ = false;
    bool committed_ = false;
};

}  // namespace pixavant::imaging
