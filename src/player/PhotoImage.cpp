#include "player/PhotoImage.h"

#include "platform/FileListing.h"
#include "player/PhotoDecoder.h"
#include "player/Playlist.h"

#include <optional>

namespace qr {

struct PhotoImage::Data {
    Kind kind = Kind::None;
    QString path;
    QImage display;
    // Filled when first asked for, on the thread that uses the photo (the main thread).
    mutable QImage full;
    mutable std::optional<QSize> size;
    mutable bool fullTried = false;
    mutable QImage larger;
};

PhotoImage PhotoImage::fromImage(QImage full, QImage display)
{
    PhotoImage photo;
    if (full.isNull())
        return photo;
    photo.d_ = std::make_shared<Data>();
    photo.d_->kind = Kind::Bitmap;
    photo.d_->size = full.size();
    photo.d_->full = std::move(full);
    photo.d_->fullTried = true;
    photo.d_->display = std::move(display);
    return photo;
}

PhotoImage PhotoImage::fromFrameCopy(QImage display, QSize size)
{
    PhotoImage photo;
    if (display.isNull())
        return photo;
    photo.d_ = std::make_shared<Data>();
    photo.d_->kind = Kind::Bitmap;
    photo.d_->size = size;
    photo.d_->fullTried = true;
    photo.d_->display = std::move(display);
    return photo;
}

PhotoImage PhotoImage::fromFile(const QString& path, QImage display, QSize size)
{
    PhotoImage photo;
    photo.d_ = std::make_shared<Data>();
    photo.d_->kind = FileListing::extension(path) == QLatin1String("heic") ? Kind::Heic : Kind::Jpeg;
    photo.d_->path = path;
    photo.d_->display = std::move(display);
    if (size.isValid())
        photo.d_->size = size;
    return photo;
}

PhotoImage::Kind PhotoImage::kind() const
{
    return d_ ? d_->kind : Kind::None;
}

QString PhotoImage::filePath() const
{
    return d_ ? d_->path : QString();
}

QSize PhotoImage::size() const
{
    if (!d_)
        return {};
    if (!d_->size)
        d_->size = PhotoDecoder::naturalSize(d_->path);
    return *d_->size;
}

QImage PhotoImage::displayImage() const
{
    return d_ ? d_->display : QImage();
}

QImage PhotoImage::fullImage() const
{
    if (!d_)
        return {};
    if (!d_->fullTried) {
        d_->fullTried = true;
        d_->full = PhotoDecoder::decode(d_->path);
    }
    return d_->full;
}

QImage PhotoImage::bestImage() const
{
    if (!d_)
        return {};
    return d_->display.isNull() ? fullImage() : d_->display;
}

QImage PhotoImage::largerImage() const
{
    return d_ ? d_->larger : QImage();
}

void PhotoImage::setLargerImage(QImage image) const
{
    if (d_)
        d_->larger = std::move(image);
}

} // namespace qr
