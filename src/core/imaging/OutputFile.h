#pragma once

#include <QString>

namespace pixavant::imaging {

// A new file written beside its final place and renamed into place when complete: a failed or
// abandoned save leaves nothing behind and never touches an existing file of that name.
class OutputFile {
public:
    explicit OutputFile(QString finalPath);
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

private:
    QString finalPath_;
    QString tempPath_;
    bool synced_ = false;
    bool committed_ = false;
};

}  // namespace pixavant::imaging
