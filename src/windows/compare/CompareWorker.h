#pragma once

#include <QImage>
#include <QMutex>
#include <QObject>
#include <QString>
#include <QWaitCondition>
#include <atomic>
#include <cstdint>
#include <optional>
#include <thread>

#include "settings/CompressionSettings.h"

namespace pixavant {

namespace batch {
class TrialConverter;
}

// What the compare view asks for: a file with a set of choices, and the part of the result that is
// in view (shown first, before the whole file is encoded).
struct CompareRequest {
    QString path;
    CompressionSettings settings;
    double centreX = 0.5;  // the middle of the view, in fractions of the image
    double centreY = 0.5;
    int viewWidth = 0;  // 0: no quick look at a part first
    int viewHeight = 0;
    bool wantOriginal = true;  // false: the view has this file's original already
};

// A result for the view: a quick look at the part in view, or the whole output.
struct CompareResult {
    uint64_t serial = 0;
    bool part = false;  // a part: `result` lies at (partX, partY) in a width x height image
    int32_t code = 0;   // 0, or the code a run fails the file with
    QString message;    // the run's message and details for it
    QString details;
    QImage original;  // page 1 as loaded; null: the same as in the previous result
    QImage result;    // page 1 of the output, decoded again
    int width = 0;
    int height = 0;
    int partX = 0;
    int partY = 0;
    qint64 bytes = 0;  // of the whole output; of the part's own output for a part
    qint64 sourceBytes = 0;
    std::optional<double> psnr;
};

// Encodes for the compare view on a thread of its own: one request at a time, the newest request
// waiting behind it (an older waiting one is replaced), and whatever comes of a request that a
// newer one has overtaken dropped. The request in progress is asked to stop at its next progress
// point when a newer one arrives (an encoder that cannot stop finishes, and its result is dropped).
class CompareWorker : public QObject {
    Q_OBJECT

  public:
    explicit CompareWorker(QObject* parent = nullptr);
    ~CompareWorker() override;

    void request(const CompareRequest& request);
    // From request() until the newest request's whole result (or failure) has been shown.
    bool busy() const { return busy_; }

  signals:
    void shown(const pixavant::CompareResult& result);
    void busyChanged(bool busy);

  private:
    void run();
    void work(batch::TrialConverter& converter, const CompareRequest& request, uint64_t serial);
    void post(CompareResult result);
    void deliver(const CompareResult& result);
    bool overtaken(uint64_t serial) const { return serial != newest_.load(); }

    QMutex mutex_;
    QWaitCondition wake_;
    std::optional<CompareRequest> waiting_;
    uint64_t waitingSerial_ = 0;
    bool stopping_ = false;
    std::atomic<uint64_t> newest_{0};
    std::atomic<bool> cancel_{false};
    bool busy_ = false;
    std::thread thread_;
};

}  // namespace pixavant

Q_DECLARE_METATYPE(pixavant::CompareResult)
