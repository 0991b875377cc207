#include "ui/MvcRecordingUi.h"

#include "mvc/MvcMaster.h"
#include "platform/Alert.h"
#include "ui/MvcRecordingIndicator.h"

#include <QDir>

namespace qr {

MvcRecordingUi::MvcRecordingUi(MvcMaster* master, const QString& folder, QObject* parent)
    : QObject(parent), m_master(master), m_indicator(std::make_unique<MvcRecordingIndicator>())
{
    MvcRecorder::Options options;
    options.folder = folder;
    m_recorder = std::make_unique<MvcRecorder>(options);
    connect(master, &MvcMaster::frameShown, m_recorder.get(), &MvcRecorder::frameShown);
    connect(master, &MvcMaster::streamEnded, m_recorder.get(), &MvcRecorder::streamEnded);
    connect(m_recorder.get(), &MvcRecorder::finished, this, &MvcRecordingUi::ended);
    connect(m_recorder.get(), &MvcRecorder::failed, this, &MvcRecordingUi::failed);
    m_timer.setInterval(250);
    connect(&m_timer, &QTimer::timeout, this, &MvcRecordingUi::tick);
}

MvcRecordingUi::~MvcRecordingUi() = default;

QString MvcRecordingUi::summaryText(const MvcRecorder::Summary& summary)
{
    const int n = static_cast<int>(summary.clips.size());
    QString text = n == 1 ? tr("1 clip saved") : tr("%1 clips saved").arg(n);
    text += summary.dropped == 1 ? tr(", 1 frame dropped") : tr(", %1 frames dropped").arg(summary.dropped);
    return text;
}

void MvcRecordingUi::configIndicator(LayerView* renderView4, double w4, double h4)
{
    m_indicator->configure(renderView4, w4, h4);
}

void MvcRecordingUi::menuToggleRecording()
{
    if (!m_master)
        return;
    if (m_recorder->isRecording()) {
        m_recorder->stop();
        m_timer.stop();
    } else {
        m_recorder->start(m_master->now());
        m_timer.start();
        tick();
    }
    Q_EMIT recordingChanged(m_recorder->isRecording());
}

void MvcRecordingUi::tick()
{
    if (m_master && m_recorder->isRecording())
        m_indicator->showRecording(m_recorder->elapsedNs(m_master->now()));
}

void MvcRecordingUi::ended(const MvcRecorder::Summary& summary)
{
    m_indicator->showEnded(summaryText(summary));
}

void MvcRecordingUi::failed(const QString& error)
{
    m_timer.stop();
    Q_EMIT recordingChanged(false);
    Alert alert;
    alert.messageText = tr("Recording stopped");
    alert.informativeText =
        tr("The clips could not be written: %1. Each clip keeps what was recorded until then.").arg(error);
    alert.addButtonWithTitle(tr("OK"));
    alert.runModal();
}

} // namespace qr
