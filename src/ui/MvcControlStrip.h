#pragma once

#include "mvc/MvcControlStripLayout.h"
#include "mvc/MvcSlotTable.h"

#include <QImage>
#include <QObject>
#include <QPointer>

#include <array>

class QLabel;
class QPushButton;

namespace qr {

class LayerView;

// The control strip of the capture master inside render view 4: one state indicator, one
// frame-rate label and one shutter button per display position. Every rebuild of render view 4
// builds it anew: grey indicators, placeholder labels. Main thread only.
class MvcControlStrip : public QObject {
    Q_OBJECT
public:
    explicit MvcControlStrip(QObject* parent = nullptr);
    ~MvcControlStrip() override;

    // Builds the three kinds of items inside `renderView4` (whose frame is w4 x h4 points).
    void configMvcIndicatorViews(LayerView* renderView4, double w4, double h4, float screenScaleFactor);
    void configMvcSpeedLabels(LayerView* renderView4, double w4, double h4, float screenScaleFactor);
    void configRemoteShutterButtons(LayerView* renderView4, double w4, double h4, float screenScaleFactor);

    // Position `view` (0 to 2).
    void setIndicatorColour(int view, MvcIndicatorColour colour);
    void setSpeedText(int view, const QString& text);

    LayerView* indicator(int view) const { return m_indicators.at(std::size_t(view)); }
    QLabel* speedLabel(int view) const { return m_labels.at(std::size_t(view)); }
    QPushButton* shutterButton(int view) const { return m_buttons.at(std::size_t(view)); }

    // The shutter button image: the largest centred square of `icon`, `side` points at `scale`.
    static QImage buttonImage(const QImage& icon, double side, double scale);
    static QString stateDescription(MvcIndicatorColour colour);

Q_SIGNALS:
    // The shutter button of position `view` (0 to 2) was pressed.
    void shutterPressed(int view);

private:
    std::array<QPointer<LayerView>, 3> m_indicators;
    std::array<QPointer<QLabel>, 3> m_labels;
    std::array<QPointer<QPushButton>, 3> m_buttons;
};

} // namespace qr
