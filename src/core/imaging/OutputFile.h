#pragma once

#include <QByteArray>
#include <QString>

namespace pixavant::imaging {

// A new file written beside its final place and renamed into place when complete: a failed or
// abandoned save leaves nothing behind and never touches an existing file of that name.
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
    int create();
    const QString& temporaryPath() const { return tempPath_; }
    // Flushes the temporary file to disk. Returns kSuccess or kErrWrite.
    int sync();
    // Flushes the temporary file to disk (unless sync() did) and renames it to the final path.
    // Returns kSuccess or kErrWrite.
    int commit();
    // In memory: the bytes written, once commit() succeeded.
    const QByteArray& contents() const { return contents_; }

private:
    int commitToMemory();

    QString finalPath_;
    QString tempPath_;
    int memoryFd_ = -1;  // in memory: the memory file, -1 otherwise
    bool inMemory_ = false;
    QByteArray contents_;
    bool synced_ = false;
    bool committed_ = false;
};

}  // namespace pixavant::imaging
