#pragma once

#include "ui/LayerView.h"
#include "ui/PointRect.h"

#include <QLabel>
#include <QObject>
#include <QPointer>
#include <QString>

#include <cstdint>

namespace qr {

// The recording indicator of the capture master: a red dot and the elapsed time while recording,
// a grey dot and what was saved once a recording ended. It sits in render view 4 below the
// shutter buttons, in the control strip's style, and is rebuilt with render view 4 like the strip;
// the strip's own items keep their places. Hidden until the first recording. Main thread only.
class MvcRecordingIndicator : public QObject {
    Q_OBJECT
public:
    explicit MvcRecordingIndicator(QObject* parent = nullptr);
    ~MvcRecordingIndicator() override;

    // Where the indicator goes in render view 4 (w4 x h4 points): a row centred across the view,
    // 20 points high, 4 points above its bottom edge. The dot is that row's leftmost square.
    static PointRect frameFor(double w4, double h4);
    // "REC 0:07", "REC 1:02:03".
    static QString elapsedText(std::int64_t elapsedNs);

    // Builds the indicator inside `renderView4`, showing the latest state.
    void configure(LayerView* renderView4, double w4, double h4);
    void showRecording(std::int64_t elapsedNs);
    void showEnded(const QString& text);

    bool isRecordingShown() const { return m_recording; }
    QString text() const { return m_text; }
    LayerView* dot() const { return m_dot; }
    QLabel* label() const { return m_label; }

private:
    void apply();

    QPointer<LayerView> m_dot;
    QPointer<QLabel> m_label;
    QString m_text;
    bool m_recording = false;
    bool m_shown = false;
};

} // namespace qr
