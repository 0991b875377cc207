// Renders the application icon into PNG files: icon-render OUT_DIR SIZE...
// Each size lands in OUT_DIR/SIZExSIZE/quintaray-tv-studio.png, and 300 also as
// OUT_DIR/app_icon_300x300.png.
#include "platform/AppIcon.h"

#include <QDir>
#include <QGuiApplication>

#include <cstdio>

int main(int argc, char* argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (argc < 3) {
        std::fprintf(stderr, "usage: icon-render OUT_DIR SIZE...\n");
        return 2;
    }
    const QString out = QString::fromLocal8Bit(argv[1]);
    for (int i = 2; i < argc; ++i) {
        const int size = QByteArray(argv[i]).toInt();
        if (size <= 0 || size > 4096) {
            std::fprintf(stderr, "icon-render: bad size %s\n", argv[i]);
            return 2;
        }
        const QString dir = QStringLiteral("%1/%2x%2").arg(out).arg(size);
        QDir().mkpath(dir);
        const QImage icon = qr::AppIcon::render(size);
        if (!icon.save(dir + QStringLiteral("/quintaray-tv-studio.png")))
            return 1;
        if (size == 300 && !icon.save(out + QStringLiteral("/app_icon_300x300.png")))
            return 1;
    }
    return 0;
}
