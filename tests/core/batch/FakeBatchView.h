#pragma once

#include <QString>
#include <QStringList>
#include <functional>

#include "batch/BatchView.h"
#include "settings/AppState.h"

namespace pixavant::batch::test {

// Records everything the engine does to its view, as "Name=value" lines in order.
class FakeBatchView : public BatchView {
  public:
    QStringList calls;
    QStringList work;
    QStringList folders;  // of the work entries; none given: the source directory
    QStringList sources;
    QStringList messages;
    QStringList details;  // of each message
    std::function<void(int16_t, const RunState&)> onProgress;
    std::function<void(int convertedSoFar)> afterFile;
    int converted = 0;
    bool clickUpdatesWhileAdding = true;

    void setTotalFileLeft(const QString& t) override { calls << "TotalFileLeft=" + t; }
    void setSingleFileName(const QString& t) override { calls << "SingleFileName=" + t; }
    void setTotalPct(const QString& t) override { calls << "TotalPct=" + t; }
    void setSinglePct(const QString& t) override { calls << "SinglePct=" + t; }
    void setTotalBar(float v) override { calls << "TotalBar=" + QString::number(v); }
    void setSingleBar(float v) override { calls << "SingleBar=" + QString::number(v); }
    void setTimerEnabled(bool on) override { calls << QString("Timer=") + (on ? "on" : "off"); }
    void setTimerInterval(int ms) override { calls << "Interval=" + QString::number(ms); }
    int workCount() const override { return int(work.size()); }
    QString workEntry(int i) const override { return work.value(i); }
    QString workFolder(int i) const override { return folders.value(i); }
    int sourceCount() const override { return int(sources.size()); }
    QString sourceEntry(int i) const override { return sources.value(i); }
    void addSourceEntry(const QString& e) override {
        clickUpdatesWhileAdding = clickUpdatesWhileAdding && appState().ListClickUpdatesEnabled;
        sources << e;
        calls << "AddSource=" + e;
    }
    void setSourceCountLabel(const QString& t) override { calls << "Label1=" + t; }
    void showMessage(const QString& t, const QString& d) override {
        messages << t;
        details << d;
        calls << "Message=" + t;
    }
    void closeWindow() override { calls << "Close"; }
    void progressStatus(int16_t percent, const RunState& state) override {
        if (onProgress)
            onProgress(percent, state);
    }
    QStringList convertedFiles;  // "SOURCE -> OUTPUT"
    void fileConverted(const QString& source, const QString& output) override {
        convertedFiles << source + " -> " + output;
        ++converted;
        if (afterFile)
            afterFile(converted);
    }

    // The calls whose name is `name`, values only.
    QStringList values(const QString& name) const {
        QStringList result;
        for (const QString& c : calls)
            if (c.startsWith(name + "="))
                result << c.mid(name.size() + 1);
        return result;
    }
};

}  // namespace pixavant::batch::test
