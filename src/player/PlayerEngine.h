#pragma once

#include "decode/KroxDecoder.h"
#include "decode/RawFrame.h"
#include "player/PhotoCache.h"
#include "player/PhotoImage.h"
#include "player/PlayerState.h"
#include "player/Playlist.h"
#include "player/RenderTimer.h"

#include <QHash>
#include <QObject>
#include <QRunnable>
#include <QSize>
#include <QThreadPool>

#include <array>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace qr {

class PlayerDisplay;

// The media player engine: the playlist pass, set preparation, the frame scheduler with its render
// timer, and the transport commands. Widget-free; it lives on the main thread and drives a
// PlayerDisplay. Preparation runs on its own thread pool; every result comes back to the main thread
// through one mailbox and lands in a slot only when the set playing then waits for that photo.
//
// For safety and smooth playback: every set start changes state on the main thread (the pass hands its result
// over rather than starting the first set from the pool); the first frame of a raw set and the side previews
// are prepared on the pool, never on the main thread; a photo still being prepared shows as empty; prepared
// photos are kept across set starts (PhotoCache) and the next set is decoded ahead.
class PlayerEngine : public QObject {
    Q_OBJECT
public:
    // `display` must outlive the engine. Without a timer the engine makes a QtRenderTimer.
    // How a playlist pass ended.
    enum class PassEnd { Played, NothingPlayable, Stopped };
    Q_ENUM(PassEnd)

    explicit PlayerEngine(PlayerDisplay* display, std::unique_ptr<RenderTimer> timer = nullptr,
                          QObject* parent = nullptr);
    // Drops queued preparation and waits for the work already running.
    ~PlayerEngine() override;

    PlayerState& state() { return s_; }
    const PlayerState& state() const { return s_; }
    // The container decoder the playlist pass uses (a copy is taken for each pass).
    void setKroxDecoder(const KroxDecoder& decoder) { kroxDecoder_ = decoder; }

    // Playlist. The display removes the "Generate Playlist" button itself, then calls this: it clears
    // the views, lists and slots and starts the pass on the pool. When the pass is done, the first set
    // starts on the main thread and the display gets playlistPassFinished(). A pass still running is
    // abandoned for the new one.
    void generatePlaylistButtonAction();
    // A pass has been started and its end has not been handed over yet.
    bool playlistPassRunning() const { return passRunning_; }
    // Asks the running pass to stop at its next file boundary; it then ends with
    // playlistPassEnded(Stopped) and hands over nothing. False when no pass runs.
    bool stopPlaylistPass();
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
    // Preparation jobs whose results came back since the engine was made.
    int jobsDone() const { return jobsDone_; }
    // Blocks until the pool has nothing running or queued; for tests and benchmarks only.
    void waitForPool();
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
    // The running pass's latest progress; coalesced, so a slow receiver sees the newest state only.
    void playlistProgress(const qr::PlaylistProgress& progress);
    // How a pass ended (after playlistTaken() for a pass that was handed over). `rejection` says why
    // nothing is playable when the pass found no playable set.
    void playlistPassEnded(qr::PlayerEngine::PassEnd end, const QString& rejection);

private Q_SLOTS:
    // Takes the finished work out of the mailbox (queued from the pool).
    void drainResults();
    // Forwards the pass's newest progress (queued from the pass).
    void deliverProgress();

private:
    enum class ArmMode { FromNow, Chained };
    // One unit of preparation for the pool.
    struct Job {
        enum class Kind { RawSlot, FileSlot, RawPreview, FilePreview };
        Kind kind = Kind::RawSlot;
        std::uint64_t generation = 0;
        int index = 0; // slot (1-based) or view
        QString path;
        FrameSize size;
        QSize box;
        PhotoCache::Stamp stamp;
        bool prefetch = false; // a photo of the set that plays next: into the cache only
    };
    struct Done {
        Job job;
        PhotoImage photo;
    };
    struct Pass {
        std::uint64_t generation = 0;
        PlaylistRequest request;
    };
    struct PassDone {
        std::uint64_t generation = 0;
        PlaylistResult result;
    };
    // The one runnable the pool runs, again and again: it takes the next piece of work from the
    // mailbox. Made before any pool thread exists.
    class Runner : public QRunnable {
    public:
        explicit Runner(PlayerEngine* engine) : engine_(engine) { setAutoDelete(false); }
        void run() override { engine_->runOne(); }

    private:
        PlayerEngine* engine_;
    };

    void runOne();
    void enqueue(std::vector<Job> jobs);
    // Takes the queued, not yet started jobs back out of the mailbox.
    void dropQueuedJobs();
    void leaveFlight(const Job& job);
    void arm(ArmMode mode);
    void displayStep(const PhotoImage& first);
    void emptySlots(int count);
    // The slot jobs of the current set; slots found in the cache are filled at once.
    std::vector<Job> prepRgbSet(const QString& folder, const QStringList& list);
    std::vector<Job> prepJpegOrHeicSet(const QString& folder, const QStringList& list);
    std::optional<Job> previewJob(int view, const QStringList& list);
    // The photos of set `pair` (1-based) of the index list; empty when it has none.
    QStringList setPhotos(std::int32_t pair) const;
    // Once the set playing is prepared, the set that follows it is decoded into the cache ahead.
    void prefetchNextSet();
    void landSlot(const Job& job, const PhotoImage& image);
    void updateZoomMaximum(const PhotoImage& slot1);
    void landPreview(const Job& job, const PhotoImage& image);
    void moveToSet(std::int32_t setNumber);

    PlayerDisplay* display_;
    std::unique_ptr<RenderTimer> timer_;
    PlayerState s_;
    KroxDecoder kroxDecoder_;
    std::uint64_t generation_ = 0;
    std::uint64_t passGeneration_ = 0;
    // Set to abandon the pass started last.
    std::shared_ptr<std::atomic<bool>> passStop_;
    int pending_ = 0;
    int jobsDone_ = 0;
    // Slots of the current set whose preparation has not landed yet, the slot of each of its files,
    // and the display size its copies are made at.
    std::array<bool, PlayerState::kShownSlots> slotPending_{};
    QHash<QString, int> slotOfPath_;
    QSize slotBox_;
    // Files with a slot job queued or running (from any set start), so that none is decoded twice.
    QHash<QString, int> inFlight_;
    std::int64_t deadlineNs_ = 0;
    std::int64_t tickDueNs_ = 0;
    // The set start whose first photo waits for its display copy before it is shown.
    std::uint64_t slot1Deferred_ = 0;
    // Prepared photos of earlier set starts, beyond those of the set playing now (which stay while
    // they are in its slots): about three sets of JPEG or HEIC display copies.
    PhotoCache cache_{std::int64_t{1024} << 20};

    // The mailbox between the main thread and the pool: work goes in and results come out only under
    // this mutex, so that everything a worker reads or writes is handed over whole. The pool carries
    // no data itself.
    std::mutex mailbox_;
    std::deque<Job> jobs_;
    std::optional<Pass> pass_;
    std::vector<Done> done_;
    std::vector<PassDone> passesDone_;
    // Whether a pass runs (main thread), and its newest progress, handed over under its own lock:
    // the pass reports far more often than the main thread looks.
    bool passRunning_ = false;
    std::mutex progressLock_;
    std::optional<PlaylistProgress> progress_;
    std::uint64_t progressGeneration_ = 0;
    Runner runner_{this};
    QThreadPool pool_; // last: destroyed (and waited for) first
};

} // namespace qr
