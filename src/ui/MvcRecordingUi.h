#pragma once

#include "mvc/MvcRecorder.h"

#include <QObject>
#include <QPointer>
#include <QTimer>

#include <memory>

class QWidget;

namespace qr {

class LayerView;
class MvcMaster;
class MvcRecordingIndicator;

// "Start Recording" / "Stop Recording" of the capture master: records what the master shows through
// an MvcRecorder, keeps the recording indicator current, tells what was saved when a recording ends
// and, through an alert, why when it stopped by itself. Main thread only. Its destruction (Quit, the
// window closed) finishes the clips at once.
class MvcRecordingUi : public QObject {
    Q_OBJECT
public:
    MvcRecordingUi(MvcMaster* master, const QString& folder, QObject* parent = nullptr);
    ~MvcRecordingUi() override;

    // The menu command: starts a recording, or stops the one running.
    void menuToggleRecording();
    bool isRecording() const { return m_recorder->isRecording(); }
    // Builds the indicator inside render view 4 (called with every rebuild of the control strip).
    void configIndicator(LayerView* renderView4, double w4, double h4);

    MvcRecorder& recorder() { return *m_recorder; }
    MvcRecordingIndicator& indicator() { return *m_indicator; }
    // "2 clips saved in Videos, 5 frames dropped"
    static QString summaryText(const MvcRecorder::Summary& summary);

Q_SIGNALS:
    void recordingChanged(bool recording);

private:
    void tick();
    void ended(const MvcRecorder::Summary& summary);
    void failed(const QString& error);

    QPointer<MvcMaster> m_master;
    std::unique_ptr<MvcRecordingIndicator> m_indicator;
    std::unique_ptr<MvcRecorder> m_recorder;
    QTimer m_timer;
};

} // namespace qr
