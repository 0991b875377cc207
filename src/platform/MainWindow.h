#pragma once

#include <QMainWindow>

#include <functional>

namespace qr {

// The program's single window. Resizability and minimisability are switched like style-mask bits;
// a resize delegate sees every user resize and may answer another size, which is then applied.
class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    // contentSize: the initial client size, in logical pixels.
    explicit MainWindow(QSize contentSize, QWidget* parent = nullptr);

    void setResizable(bool on);
    bool isResizable() const { return m_resizable; }
    void setMiniaturizable(bool on);
    bool isMiniaturizable() const { return m_miniaturizable; }

    // Places the window (client area) at rect, in Qt screen coordinates.
    void setFrame(const QRect& rect);
    // Largest size the user may give the window.
    void setMaximumContentSize(QSize size);

    using ResizeDelegate = std::function<QSize(QSize proposed)>;
    void setResizeDelegate(ResizeDelegate d) { m_resizeDelegate = std::move(d); }

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void applyResizability();

    bool m_resizable = false;
    bool m_miniaturizable = false;
    bool m_inResize = false;
    QSize m_placedSize; // size set by setFrame, not yet reported back
    QSize m_maximum{QWIDGETSIZE_MAX, QWIDGETSIZE_MAX};
    ResizeDelegate m_resizeDelegate;
};

} // namespace qr
