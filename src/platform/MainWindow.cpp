#include "platform/MainWindow.h"

#include <QResizeEvent>

namespace qr {

MainWindow::MainWindow(QSize contentSize, QWidget* parent) : QMainWindow(parent)
{
    // Titled and closable, neither minimisable nor resizable until start-up has finished.
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowCloseButtonHint | Qt::CustomizeWindowHint);
    resize(contentSize);
    applyResizability();
}

void MainWindow::setResizable(bool on)
{
    m_resizable = on;
    applyResizability();
}

void MainWindow::setMiniaturizable(bool on)
{
    m_miniaturizable = on;
    Qt::WindowFlags f = windowFlags();
    f.setFlag(Qt::WindowMinimizeButtonHint, on);
    const bool visible = isVisible();
    setWindowFlags(f);
    if (visible)
        show();
}

void MainWindow::setMaximumContentSize(QSize size)
{
    m_maximum = size;
    applyResizability();
}

void MainWindow::setFrame(const QRect& rect)
{
    // rect is the outer frame; the client area is what the window decorations leave of it.
    const QSize margins = frameGeometry().size() - geometry().size();
    const QSize content = (rect.size() - margins).boundedTo(m_maximum);
    if (!m_resizable)
        setFixedSize(content);
    // The window system may report this size later, after the window became resizable: that report
    // is the placement, not the user resizing.
    m_placedSize = content;
    resize(content);
    move(rect.topLeft());
}

void MainWindow::applyResizability()
{
    if (m_resizable) {
        setMinimumSize(0, 0);
        setMaximumSize(m_maximum);
        Qt::WindowFlags f = windowFlags();
        if (!f.testFlag(Qt::WindowMaximizeButtonHint) && m_maximum.width() == QWIDGETSIZE_MAX) {
            f.setFlag(Qt::WindowMaximizeButtonHint, true);
            const bool visible = isVisible();
            setWindowFlags(f);
            if (visible)
                show();
        }
    } else {
        setFixedSize(size().boundedTo(m_maximum));
    }
}

void MainWindow::resizeEvent(QResizeEvent* event)
{
    QMainWindow::resizeEvent(event);
    if (event->size() == m_placedSize) {
        m_placedSize = QSize();
        return;
    }
    if (!m_resizeDelegate || m_inResize || !m_resizable)
        return;
    m_inResize = true;
    const QSize answer = m_resizeDelegate(event->size());
    if (answer.isValid() && answer != size())
        resize(answer.boundedTo(m_maximum));
    m_inResize = false;
}

} // namespace qr
