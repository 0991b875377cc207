#pragma once

#include "player/ClipExporter.h"

#include <QObject>
#include <QPointer>
#include <QProgressDialog>
#include <QString>

#include <atomic>
#include <thread>

class QWidget;

namespace qr {

class PlayerControls;
class PlayerEngine;

// "Export Set as Video…": makes a clip of the set in render view 1 at the current speed in the
// user's videos folder, named after the set's first photo. The export runs on a thread of its own
// (decoding on the exporter's pool), so the window and playback go on; a non-modal progress dialog
// shows how far it is and cancels it. A finished clip is offered by Share.
class ClipExportUi : public QObject {
    Q_OBJECT
public:
    // `engine` and `controls` must outlive this object; the dialog is a child of `dialogParent`.
    ClipExportUi(PlayerEngine* engine, PlayerControls* controls, QWidget* dialogParent,
                 QObject* parent = nullptr);
    // Cancels a running export and waits for it (nothing of it stays on disk).
    ~ClipExportUi() override;

    // The folder clips go to; the user's videos folder unless set.
    void setVideosDir(const QString& dir) { m_videosDir = dir; }
    QString videosDir() const;

    // The menu command. While an export runs it only brings its dialog forward.
    void menuExportSetAsVideo();

    bool running() const { return m_worker.joinable(); }
    QProgressDialog* dialog() const { return m_dialog; }

Q_SIGNALS:
    // An export ended: `result.ok()` with the clip at `path`, or failed or cancelled.
    void exportFinished(const qr::ClipResult& result, const QString& path);

private:
    void showMessage(const QString& text, bool withBar = false);
    void progressed(int done, int total);
    void finished(const ClipResult& result);

    PlayerEngine* m_engine;
    PlayerControls* m_controls;
    QWidget* m_dialogParent;
    QString m_videosDir;
    QString m_output;
    QPointer<QProgressDialog> m_dialog;
    std::atomic<bool> m_cancel{false};
    std::thread m_worker;
};

} // namespace qr
