#pragma once

#include <QButtonGroup>
#include <QStringList>
#include <QWidget>

namespace qr {

// A row of mutually exclusive segments, one of them selected.
class SegmentedControl : public QWidget {
    Q_OBJECT
public:
    SegmentedControl(const QStringList& labels, QWidget* parent = nullptr);

    int segmentCount() const { return static_cast<int>(m_group.buttons().size()); }
    int selectedSegment() const { return m_group.checkedId(); }
    void setSelectedSegment(int index);
    QString label(int index) const;
    // The user picks segment `index` (as a click would).
    void clickSegment(int index);

    // The size that fits the labels.
    QSize sizeHint() const override;

Q_SIGNALS:
    // The user selected a segment.
    void segmentSelected(int index);

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void layoutSegments();
    QButtonGroup m_group;
};

} // namespace qr
