// phone-sim: a simulated capture phone for the Multi View Capture master.

#include "PhoneSim.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QTextStream>
#include <QTimer>

#include <algorithm>
#include <cstdio>

using qr::PhoneSim;

namespace {

QString hex(const QByteArray& bytes)
{
    return QString::fromLatin1(bytes.toHex(' '));
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("phone-sim"));
    QCommandLineParser p;
    p.setApplicationDescription(QStringLiteral(
        "Streams a moving test pattern to a Multi View Capture master, as a capture phone does, and "
        "prints the shutter commands it receives."));
    p.addHelpOption();
    const QCommandLineOption host({QStringLiteral("host")}, QStringLiteral("Master address (skips DNS-SD)."),
                                  QStringLiteral("address"));
    const QCommandLineOption port({QStringLiteral("port")}, QStringLiteral("Master port (with --host)."),
                                  QStringLiteral("port"));
    const QCommandLineOption mdnsServer(
        {QStringLiteral("mdns-server")},
        QStringLiteral("Where to send the DNS-SD query (default 224.0.0.251)."), QStringLiteral("address"),
        QStringLiteral("224.0.0.251"));
    const QCommandLineOption width({QStringLiteral("width")}, QStringLiteral("Frame width."),
                                   QStringLiteral("px"), QStringLiteral("640"));
    const QCommandLineOption height({QStringLiteral("height")}, QStringLiteral("Frame height."),
                                    QStringLiteral("px"), QStringLiteral("480"));
    const QCommandLineOption fps({QStringLiteral("fps")}, QStringLiteral("Frames per second."),
                                 QStringLiteral("n"), QStringLiteral("30"));
    const QCommandLineOption frames({QStringLiteral("frames")},
                                    QStringLiteral("Frames to send (-1: endless)."), QStringLiteral("n"),
                                    QStringLiteral("-1"));
    const QCommandLineOption view({QStringLiteral("view")}, QStringLiteral("View index 0 to 15."),
                                  QStringLiteral("n"), QStringLiteral("0"));
    const QCommandLineOption orientation({QStringLiteral("orientation")},
                                         QStringLiteral("Device orientation 0 to 15 (0: shown turned)."),
                                         QStringLiteral("n"), QStringLiteral("1"));
    const QCommandLineOption chunks({QStringLiteral("chunks")}, QStringLiteral("whole, random or glue."),
                                    QStringLiteral("mode"), QStringLiteral("whole"));
    const QCommandLineOption glue({QStringLiteral("glue")},
                                  QStringLiteral("Messages per write in glue mode."), QStringLiteral("n"),
                                  QStringLiteral("3"));
    const QCommandLineOption code({QStringLiteral("code")},
                                  QStringLiteral("Expected 6-digit code (default: the advertised one)."),
                                  QStringLiteral("digits"));
    const QCommandLineOption wait({QStringLiteral("wait")}, QStringLiteral("Seconds to look for the master."),
                                  QStringLiteral("s"), QStringLiteral("10"));
    const QCommandLineOption stay({QStringLiteral("stay")},
                                  QStringLiteral("After the last frame, stay connected and send nothing."));
    p.addOptions({host, port, mdnsServer, wait, width, height, fps, frames, view, orientation, chunks, glue,
                  code, stay});
    p.process(app);

    QTextStream out(stdout);
    PhoneSim::Options o;
    o.width = p.value(width).toInt();
    o.height = p.value(height).toInt();
    o.fps = p.value(fps).toDouble();
    o.frames = p.value(frames).toInt();
    o.view = p.value(view).toInt();
    o.orientation = p.value(orientation).toInt();
    o.glue = p.value(glue).toInt();
    o.stayAfterLast = p.isSet(stay);
    const QString mode = p.value(chunks);
    o.chunking = mode == QLatin1String("random") ? PhoneSim::Chunking::Random
                 : mode == QLatin1String("glue") ? PhoneSim::Chunking::Glue
                                                 : PhoneSim::Chunking::Whole;
    if (o.width < 1 || o.width > 65535 || o.height < 1 || o.height > 65535) {
        std::fprintf(stderr, "phone-sim: width and height must be 1 to 65535\n");
        return 2;
    }
    if (p.isSet(host)) {
        o.host = QHostAddress(p.value(host));
        o.port = quint16(p.value(port).toUInt());
    } else {
        out << "looking for _quintaray-mvc._tcp.local ..." << Qt::endl;
        const auto found = PhoneSim::discover(QHostAddress(p.value(mdnsServer)), 5353,
                                              std::max(1, p.value(wait).toInt()) * 1000);
        if (!found) {
            std::fprintf(stderr, "phone-sim: no master found\n");
            return 1;
        }
        out << "found " << found->address.toString() << " port " << found->port
            << ", TXT bytes: " << hex(found->txt) << Qt::endl;
        o.host = found->address;
        o.port = found->port;
        o.expectedCode = found->txt;
    }
    if (p.isSet(code)) {
        o.expectedCode.clear();
        for (QChar c : p.value(code))
            o.expectedCode.append(char((c.unicode() - 48) & 0xFF));
    }
    PhoneSim sim(o);
    QObject::connect(&sim, &PhoneSim::connected,
                     [&] { out << "connected to " << o.host.toString() << ":" << o.port << Qt::endl; });
    QObject::connect(&sim, &PhoneSim::shutterReceived, [&](const QByteArray& cmd, bool ok) {
        out << "shutter command: " << hex(cmd) << (ok ? " (code ok)" : " (WRONG CODE)") << Qt::endl;
    });
    QObject::connect(&sim, &PhoneSim::finished, [&] {
        if (sim.failed()) {
            std::fprintf(stderr, "phone-sim: cannot connect to %s:%u\n", qPrintable(o.host.toString()),
                         unsigned(o.port));
            QCoreApplication::exit(1);
            return;
        }
        out << "sent " << sim.framesSent() << " frames, received " << sim.shuttersReceived()
            << " shutter commands" << Qt::endl;
        QCoreApplication::exit(sim.badShutters() == 0 ? 0 : 3);
    });
    sim.start();
    return QCoreApplication::exec();
}
