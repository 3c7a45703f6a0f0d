#include "compare/CompareWorker.h"

#include <QMetaObject>
#include <QMutexLocker>

#include "batch/TrialConversion.h"
#include "imaging/PixelOps.h"

namespace pixavant {

namespace {

// A copy of the raster as an image for painting (palette pixels as the colours they stand for).
QImage imageOf(const imaging::Raster& raster) {
    if (raster.empty() || raster.pixels.size() < raster.rowBytes() * size_t(raster.height))
        return {};
    imaging::Raster colour;
    const imaging::Raster* source = &raster;
    if (raster.format == imaging::PixelFormat::Indexed8) {
        if (imaging::convertToRgb(raster, colour) != 0)
            return {};
        source = &colour;
    }
    const QImage::Format format =
        source->channels() == 3 ? QImage::Format_RGB888 : QImage::Format_Grayscale8;
    return QImage(source->pixels.data(), source->width, source->height,
                  qsizetype(source->rowBytes()), format)
        .copy();
}

}  // namespace

CompareWorker::CompareWorker(QObject* parent) : QObject(parent) {
    qRegisterMetaType<CompareResult>();
    thread_ = std::thread([this] { run(); });
}

CompareWorker::~CompareWorker() {
    {
        QMutexLocker lock(&mutex_);
        stopping_ = true;
        cancel_ = true;
        wake_.wakeAll();
    }
    thread_.join();
}

void CompareWorker::request(const CompareRequest& request) {
    QMutexLocker lock(&mutex_);
    waiting_ = request;
    waitingSerial_ = ++newest_;
    cancel_ = true;  // whatever is in progress has been overtaken
    wake_.wakeAll();
    if (!busy_) {
        busy_ = true;
        lock.unlock();
        emit busyChanged(true);
    }
}

void CompareWorker::run() {
    batch::TrialConverter converter;
    converter.setCancelFlag(&cancel_);
    for (;;) {
        CompareRequest next;
        uint64_t serial = 0;
        {
            QMutexLocker lock(&mutex_);
            while (!waiting_ && !stopping_)
                wake_.wait(&mutex_);
            if (stopping_)
                return;
            next = std::move(*waiting_);
            serial = waitingSerial_;
            waiting_.reset();
            cancel_ = false;
        }
        work(converter, next, serial);
    }
}

void CompareWorker::work(batch::TrialConverter& converter, const CompareRequest& request,
                         uint64_t serial) {
    bool originalSent = false;
    const auto resultOf = [&](batch::TrialOutput& out, CompareLook look) {
        CompareResult result;
        result.serial = serial;
        result.look = look;
        result.code = out.code;
        result.message = out.message;
        result.details = out.details;
        result.width = out.width;
        result.height = out.height;
        result.partX = out.partX;
        result.partY = out.partY;
        result.bytes = out.outputBytes;
        result.sourceBytes = out.sourceBytes;
        result.psnr = out.psnr;
        result.result = imageOf(out.result);
        out.result = {};
        if (out.original && request.wantOriginal && !originalSent) {
            result.original = imageOf(*out.original);
            originalSent = true;
        }
        return result;
    };
    if (request.path.isEmpty())
        return;
    if (request.viewWidth > 0 && request.viewHeight > 0) {
        batch::TrialOutput quick =
            request.fitted
                ? converter.convertReduced(request.path, request.settings, request.viewWidth,
                                           request.viewHeight)
                : converter.convertPart(request.path, request.settings, request.centreX,
                                        request.centreY, request.viewWidth, request.viewHeight);
        if (overtaken(serial))
            return;
        post(resultOf(quick, request.fitted ? CompareLook::Reduced : CompareLook::Part));
        if (!quick.ok())
            return;  // the whole file fails the same way
    }
    batch::TrialOutput whole = converter.convert(request.path, request.settings);
    if (overtaken(serial))
        return;
    post(resultOf(whole, CompareLook::Whole));
}

void CompareWorker::post(CompareResult result) {
    QMetaObject::invokeMethod(
        this, [this, result = std::move(result)] { deliver(result); }, Qt::QueuedConnection);
}

void CompareWorker::deliver(const CompareResult& result) {
    if (overtaken(result.serial))
        return;  // a newer request is on its way
    const bool done = !result.quick() || result.code != 0;
    emit shown(result);
    if (done && busy_) {
        {
            QMutexLocker lock(&mutex_);
            busy_ = false;
        }
        emit busyChanged(false);
    }
}

}  // namespace pixavant
