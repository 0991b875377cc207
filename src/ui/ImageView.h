#pragma once

#include <QImage>
#include <QWidget>

class QPainter;

namespace qr {

// Shows one image, scaled proportionally down to fit and centred, never enlarged; a null image shows
// nothing. The image it is handed is the one it shows. A downscale is made once per image and size,
// on this thread alone: the painter's smooth scaling waits for the global pool, whose threads share
// the cores with photo preparation, and a tick would wait with it.
class ImageView : public QWidget {
    Q_OBJECT
public:
    explicit ImageView(QWidget* parent = nullptr);

    void setImage(const QImage& image);
    const QImage& image() const { return m_image; }

    // A picture that no longer changes (a stream that stopped): the image is shown dimmed with
    // `text` over it. An empty text shows the image as it is.
    void setStaleText(const QString& text);
    const QString& staleText() const { return m_staleText; }

    // Where the image is painted, in this view's coordinates (empty without an image).
    QRectF imageRect() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void paintImage(QPainter& p, const QRectF& target);

    QImage m_image;
    QString m_staleText;
    // m_image scaled to m_scaledBox device pixels.
    QImage m_scaled;
    QSize m_scaledBox;
};

} // namespace qr
