#pragma once

#include "decode/KroxDecoder.h"
#include "decode/RawFrame.h"
#include "player/PhotoCache.h"
#include "player/PhotoImage.h"
#include "player/PlayerState.h"
#include "player/Playlist.h"

#include <QObject>
#include <QSize>
#include <QThreadPool>

#include <atomic>
#include <cstdint>
#include <memory>

namespace qr {

class PlayerDisplay;
class RenderTimer;

// The media player engine: the playlist pass, set preparation, the frame scheduler with its render
// timer, and the transport commands. Widget-free; it lives on the main thread and drives a
// PlayerDisplay. Preparation runs on its own thread pool; every result comes back to the main thread
// by a queued call and lands in a slot only when it belongs to the set that is current then.
class PlayerEngine : public QObject {
    Q_OBJECT
public:
    // `display` must outlive the engine. Without a timer the engine makes a QtRenderTimer.
    explicit PlayerEngine(PlayerDisplay* display, std::unique_ptr<RenderTimer> timer = nullptr,
                          QObject* parent = nullptr);
    // Drops queued preparation and waits for the jobs already running.
    ~PlayerEngine() override;

    PlayerState& state() { return s_; }
    const PlayerState& state() const { return s_; }
    // The container decoder the playlist pass uses (a copy is taken for each pass).
    void setKroxDecoder(const KroxDecoder& decoder) { kroxDecoder_ = decoder; }

    // Playlist. The display removes the "Generate Playlist" button itself, then calls this: it clears
    // the views, lists and slots and starts the pass on the pool. When the pass is done, the first set
    // starts on the main thread and the display gets playlistPassFinished().
    void generatePlaylistButtonAction();
    // Installs a finished pass and starts its first set: what the pass hands to the scheduler.
    void takePlaylist(const PlaylistResult& result);

    // Scheduler.
    void configScheduler(bool laterSet);
    void configRenderTimer();
    void renderTimerFired();
    void renderRgbPhoto(std::int32_t n);

    // Transport.
    void toContainerVCFromPbCtlrView(std::int32_t playbackNum);
    void menuToggleRepeatSet(bool mediaPlayerModeEn);

    // Render timer control for the slider actions: stop (true when it was running), and arm a
    // one-shot of `_timerTimeInterval` seconds from now.
    bool renderTimerRunning() const;
    bool stopRenderTimer();
    void armRenderTimer();

    // Preparation bookkeeping, for the display and for tests.
    std::uint64_t generation() const { return generation_; }
    // Jobs of the current set (slots and previews) not yet landed.
    int pendingPreparations() const { return pending_; }
    QThreadPool& pool() { return pool_; }
    PhotoCache& cache() { return cache_; }
    // The deadline of the tick running now (or of the last one), on the render timer's clock.
    std::int64_t tickDueNs() const { return tickDueNs_; }
    std::int64_t nowNs() const;

Q_SIGNALS:
    // A slot of the current set got its prepared image (1-based).
    void slotPrepared(int slot);
    // Every job of the current set start has landed.
    void preparationFinished();
    // A playlist pass has been installed.
    void playlistTaken();

private:
    enum class ArmMode { FromNow, Chained };
    void arm(ArmMode mode);
    void displayStep(const PhotoImage& first);
    void emptySlots(int count);
    void startSetPreparation(const QStringList& list);
    void startPreview(int view, const QStringList& list);
    void landSlot(std::uint64_t generation, int slot, const PhotoImage& image, bool zoomSource);
    void updateZoomMaximum(const PhotoImage& slot1);
    void landPreview(std::uint64_t generation, int view, const PhotoImage& image);
    void jobLanded(std::uint64_t generation);
    void moveToSet(std::int32_t setNumber);

    PlayerDisplay* display_;
    std::unique_ptr<RenderTimer> timer_;
    PlayerState s_;
    KroxDecoder kroxDecoder_;
    QThreadPool pool_;
    std::uint64_t generation_ = 0;
    std::uint64_t passGeneration_ = 0;
    int pending_ = 0;
    std::int64_t deadlineNs_ = 0;
    std::int64_t tickDueNs_ = 0;
    std::atomic<int> passRunning_{0};
    // Prepared photos of earlier set starts: one raw set of 45 full frames fits.
    PhotoCache cache_{std::int64_t{2400} << 20};
    // The raw frame size in force (`_imageCaptureWidth` x `_imageCaptureHeight`), carried across sets.
    FrameSize captureSize_;
};

} // namespace qr
