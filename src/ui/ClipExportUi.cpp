#include "ui/ClipExportUi.h"

#include "platform/StandardFolders.h"
#include "player/PlayerEngine.h"
#include "ui/PlayerControls.h"

#include <QDir>
#include <QFileInfo>
#include <QProgressBar>
#include <QProgressDialog>

#include <algorithm>

namespace qr {

namespace {
constexpr int kClipHeight = 1440;
}

ClipExportUi::ClipExportUi(PlayerEngine* engine, PlayerControls* controls, QWidget* dialogParent,
                           QObject* parent)
    : QObject(parent), m_engine(engine), m_controls(controls), m_dialogParent(dialogParent)
{}

ClipExportUi::~ClipExportUi()
{
    m_cancel = true;
    if (m_worker.joinable())
        m_worker.join();
    delete m_dialog;
}

QString ClipExportUi::videosDir() const
{
    return m_videosDir.isEmpty() ? StandardFolders::movies() : m_videosDir;
}

void ClipExportUi::showMessage(const QString& text, bool withBar)
{
    if (!m_dialog) {
        m_dialog = new QProgressDialog(m_dialogParent);
        m_dialog->setWindowTitle(QStringLiteral("Export Set as Video"));
        m_dialog->setWindowModality(Qt::NonModal);
        m_dialog->setAutoClose(false);
        m_dialog->setAutoReset(false);
        m_dialog->setMinimumDuration(0);
        m_dialog->setMinimumWidth(420);
        // The dialog hides itself on Cancel (and on Close once the export has ended).
        connect(m_dialog, &QProgressDialog::canceled, this, [this] {
            if (running())
                m_cancel = true;
        });
    }
    m_dialog->setLabelText(text);
    // The bar only while there is progress to show.
    if (auto* bar = m_dialog->findChild<QProgressBar*>())
        bar->setVisible(withBar);
    m_dialog->show();
    m_dialog->raise();
}

void ClipExportUi::menuExportSetAsVideo()
{
    if (running()) {
        if (m_dialog) {
            m_dialog->show();
            m_dialog->raise();
        }
        return;
    }
    const PlayerState& s = m_engine->state();
    const QStringList& list = s._listOfFilesForView[0];
    auto endWith = [this](const QString& text) {
        showMessage(text);
        m_dialog->setRange(0, 1);
        m_dialog->setValue(0);
        m_dialog->setCancelButtonText(QStringLiteral("Close"));
    };
    if (list.isEmpty()) {
        endWith(QStringLiteral("No set is playing: generate a playlist first."));
        return;
    }
    const QString dir = videosDir();
    if (dir.isEmpty() || !QDir().mkpath(dir)) {
        endWith(QStringLiteral("The videos folder %1 cannot be made.").arg(dir));
        return;
    }

    ClipRequest request;
    for (const QString& name : list)
        request.photos << s._symbolicPath + QLatin1Char('/') + name;
    request.fps = std::clamp(s._playbackSpeed, 1, 30);
    request.maxHeight = kClipHeight;
    request.rawSize = FrameSize{s._imageCaptureWidth, s._imageCaptureHeight};
    m_output = dir + QLatin1Char('/') + QFileInfo(list.first()).completeBaseName() + QLatin1String(".mp4");
    request.output = m_output;

    showMessage(
        QStringLiteral("Exporting %1: 0 of %2 photos").arg(QFileInfo(m_output).fileName()).arg(list.size()));
    m_dialog->setCancelButtonText(QStringLiteral("Cancel"));
    m_dialog->setRange(0, static_cast<int>(list.size()));
    m_dialog->setValue(0);
    m_cancel = false;
    m_worker = std::thread([this, request] {
        const ClipResult result = ClipExporter().run(
            request,
            [this](int done, int total) {
                QMetaObject::invokeMethod(
                    this, [this, done, total] { progressed(done, total); }, Qt::QueuedConnection);
            },
            &m_cancel);
        QMetaObject::invokeMethod(
            this, [this, result] { finished(result); }, Qt::QueuedConnection);
    });
}

void ClipExportUi::progressed(int done, int total)
{
    if (!m_dialog || !running() || m_cancel)
        return;
    m_dialog->setValue(done);
    m_dialog->setLabelText(QStringLiteral("Exporting %1: %2 of %3 photos")
                               .arg(QFileInfo(m_output).fileName())
                               .arg(done)
                               .arg(total));
}

void ClipExportUi::finished(const ClipResult& result)
{
    if (m_worker.joinable())
        m_worker.join();
    if (result.ok()) {
        m_controls->setSharedClip(m_output);
        showMessage(QStringLiteral("Saved as %1 (%2 photos, %3 x %4). Share offers it.")
                        .arg(QDir::toNativeSeparators(m_output))
                        .arg(result.frames)
                        .arg(result.frameSize.width())
                        .arg(result.frameSize.height()));
        m_dialog->setValue(m_dialog->maximum());
        m_dialog->setCancelButtonText(QStringLiteral("Close"));
    } else if (result.status != ClipResult::Status::Cancelled) {
        showMessage(QStringLiteral("No video was made: %1").arg(result.message));
        m_dialog->setCancelButtonText(QStringLiteral("Close"));
    } else if (m_dialog) {
        m_dialog->hide();
    }
    const QString output = m_output;
    Q_EMIT exportFinished(result, output);
}

} // namespace qr
