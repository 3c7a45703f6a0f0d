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

// What the compare view asks for: a file with a set of choices, and the view it is shown in, for a
// quick look shown before the whole file is encoded.
struct CompareRequest {
    QString path;
    CompressionSettings settings;
    // Fitted: the quick look is the whole picture reduced to the view's size. At 100 %: the part
    // in view, around the view's middle.
    bool fitted = true;
    double centreX = 0.5;  // the middle of the view, in fractions of the image
    double centreY = 0.5;
    int viewWidth = 0;  // 0: no quick look first
    int viewHeight = 0;
    bool wantOriginal = true;  // false: the view has this file's original already
};

// What a result shows: the whole output, or a quick look before it with the same choices.
enum class CompareLook {
    Whole,
    Reduced,  // the whole picture reduced: `result` is smaller than width x height
    Part,     // a part: `result` lies at (partX, partY) in a width x height image
};

// A result for the view.
struct CompareResult {
    uint64_t serial = 0;
    CompareLook look = CompareLook::Whole;
    int32_t code = 0;  // 0, or the code a run fails the file with
    QString message;   // the run's message and details for it
    QString details;
    QImage original;  // page 1 as loaded; null: the same as in the previous result
    QImage result;    // page 1 of the output, decoded again
    int width = 0;
    int height = 0;
    int partX = 0;
    int partY = 0;
    qint64 bytes = 0;  // of the whole output; of the quick look's own output for a quick look
    qint64 sourceBytes = 0;
    std::optional<double> psnr;

    bool quick() const { return look != CompareLook::Whole; }
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
