#include "ui/MvcRecordingIndicator.h"

#include "ui/LayerView.h"

#include <QFont>
#include <QLabel>

#include <algorithm>

namespace qr {

namespace {
constexpr double kRowHeight = 20.0;
constexpr double kRowWidth = 220.0;
constexpr double kBottom = 4.0;
constexpr double kDot = 12.0;
} // namespace

MvcRecordingIndicator::MvcRecordingIndicator(QObject* parent) : QObject(parent) {}

MvcRecordingIndicator::~MvcRecordingIndicator()
{
    delete m_dot.data();
    delete m_label.data();
}

PointRect MvcRecordingIndicator::frameFor(double w4, double /*h4*/)
{
    const double width = std::min(kRowWidth, w4);
    return PointRect{(w4 - width) / 2.0, kBottom, width, kRowHeight};
}

QString MvcRecordingIndicator::elapsedText(std::int64_t elapsedNs)
{
    const std::int64_t s = std::max<std::int64_t>(0, elapsedNs) / 1000000000;
    if (s >= 3600)
        return QStringLiteral("REC %1:%2:%3")
            .arg(s / 3600)
            .arg(s / 60 % 60, 2, 10, QLatin1Char('0'))
            .arg(s % 60, 2, 10, QLatin1Char('0'));
    return QStringLiteral("REC %1:%2").arg(s / 60).arg(s % 60, 2, 10, QLatin1Char('0'));
}

void MvcRecordingIndicator::configure(LayerView* renderView4, double w4, double h4)
{
    delete m_dot.data();
    delete m_label.data();
    const PointRect row = frameFor(w4, h4);
    const PointRect dot{row.x, row.y + (row.height - kDot) / 2.0, kDot, kDot};
    auto* d = new LayerView(renderView4);
    d->setGeometry(qtRect(dot, h4));
    d->setBorder(1.0, Rgba{0, 0, 0, 1});
    d->setCornerRadius(kDot / 2.0);
    auto* label = new QLabel(renderView4);
    label->setGeometry(qtRect(PointRect{row.x + kDot + 6.0, row.y, row.width - kDot - 6.0, row.height}, h4));
    // The strip's label face, at a size that fits the row.
    QFont font(QStringLiteral("Helvetica Neue"));
    font.setFamilies(
        {QStringLiteral("Helvetica Neue"), QStringLiteral("Liberation Sans"), QStringLiteral("Arial")});
    font.setBold(true);
    font.setPixelSize(13);
    label->setFont(font);
    label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    label->setTextInteractionFlags(Qt::NoTextInteraction);
    label->setAccessibleName(tr("Recording"));
    m_dot = d;
    m_label = label;
    apply();
}

void MvcRecordingIndicator::showRecording(std::int64_t elapsedNs)
{
    m_recording = true;
    m_shown = true;
    m_text = elapsedText(elapsedNs);
    apply();
}

void MvcRecordingIndicator::showEnded(const QString& text)
{
    m_recording = false;
    m_shown = true;
    m_text = text;
    apply();
}

void MvcRecordingIndicator::apply()
{
    if (!m_dot || !m_label)
        return;
    m_dot->setBackgroundColour(m_recording ? Rgba{1, 0, 0, 1}
                                           : Rgba{128 / 255.0, 128 / 255.0, 128 / 255.0, 1});
    m_label->setStyleSheet(
        m_recording ? QStringLiteral("QLabel { color: rgb(255, 0, 0); background: transparent; }")
                    : QStringLiteral("QLabel { color: rgb(0, 0, 255); background: transparent; }"));
    m_label->setText(m_text);
    // The dot says the state to a screen reader; the label its figure.
    m_dot->setAccessibleName(tr("Recording state"));
    m_dot->setAccessibleDescription(m_recording ? tr("recording") : tr("not recording"));
    m_label->setAccessibleDescription(m_text);
    m_dot->setVisible(m_shown);
    m_label->setVisible(m_shown);
    if (m_shown) {
        m_dot->raise();
        m_label->raise();
    }
}

} // namespace qr
