// The file-information call on arbitrary bytes: it must return 1 with a sane record or a failure
// code, within the time and memory limits, and never crash.
#include <QFile>
#include <cstdlib>

#include "FuzzInput.h"
#include "imaging/FileInfo.h"
#include "imaging/ImagingStatus.h"

using namespace pixavant;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::initialize();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QString path = fuzz::writeInput(data, size);
    imaging::FileInfoBlock block{};
    const int32_t result =
        imaging::L_FileInfo(QFile::encodeName(path).constData(), block.data(), 1);
    if (result == 1) {
        const imaging::FileInfoRecord record = imaging::fromBlock(block);
        if (record.Width <= 0 || record.Height <= 0 || record.TotalPages < 1)
            std::abort();  // success with an impossible record
    } else if (result < imaging::kErrNoMemory) {
        std::abort();  // failures are status codes from 20001 on
    }
    return 0;
}
