#pragma once

#include "decode/KroxDecoder.h"
#include "decode/RawFrame.h"
#include "player/PhotoCache.h"
#include "player/PhotoImage.h"
#include "player/PlayerState.h"
#include "player/Playlist.h"
#include "player/PreparationPipeline.h"
#include "player/RenderTimer.h"
#include "player/TransportCommand.h"

#include <QObject>
#include <QSet>
#include <QSize>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace qr {

class PlayerDisplay;

// The media player engine: the playlist pass, the set starts, the frame scheduler with its render
// timer, and the transport commands. Widget-free; it lives on the main thread and drives a
// PlayerDisplay. The photos themselves are prepared by a PreparationPipeline on its own pool; each
// lands in its slot on the main thread.
//
// Every set start changes state on the main thread (the pass hands its result over rather than starting
// the first set from the pool). A tick due to show a JPEG or HEIC photo still being prepared waits for
// it (the previous photo stays on the display and the schedule slips by the wait); a raw frame still
// being prepared shows as empty. The first tick of a set may wait for a short buffer of prepared photos.
class PlayerEngine : public QObject {
    Q_OBJECT
public:
    // How a playlist pass ended.
    enum class PassEnd { Played, NothingPlayable, Stopped };
    Q_ENUM(PassEnd)

    // `display` must outlive the engine. Without a timer the engine makes a QtRenderTimer.
    explicit PlayerEngine(PlayerDisplay* display, std::unique_ptr<RenderTimer> timer = nullptr,
                          QObject* parent = nullptr);
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
    // playlistPassEnded(Stopped) and hands over nothing. False when no pass runs. After a hand-over it
    // stops the background settling of the pass's frames (see PreparationPipeline::runPass).
    bool stopPlaylistPass();
    // Installs a finished pass and starts its first set: what the pass hands to the scheduler.
    void takePlaylist(const PlaylistResult& result);

    // Keeps the display copies of HEIC photos in `disk` between runs (none by default). While
    // playback is paused, the copies of the playlist's HEIC sets are made there ahead, in playing
    // order from the set on display, so that each set's first play is smooth; playing stops that.
    void setDiskCache(std::shared_ptr<PhotoDiskCache> disk)
    {
        disk_ = disk;
        pipeline_.setDiskCache(std::move(disk));
    }
    // Sets of the playlist whose photos need no more preparation ahead: JPEG and raw sets, and HEIC
    // sets whose display copies are all on the disk.
    int setsReady() const { return setsReady_; }
    // Remembers the containers a pass unpacked in the file at `path` (none by default: every pass
    // unpacks every container).
    void setUnpackRecord(const QString& path) { m_unpackRecord = path; }

    // Scheduler.
    void configScheduler(bool laterSet);
    void configRenderTimer();
    void renderTimerFired();
    void renderRgbPhoto(std::int32_t n);

    // Transport.
    void toContainerVCFromPbCtlrView(TransportCommand command);
    void menuToggleRepeatSet(bool mediaPlayerModeEn);

    // Render timer control for the slider actions: stop (true when it was running), and arm a
    // one-shot of `_timerTimeInterval` seconds from now. A tick waiting for its photo counts as running.
    bool renderTimerRunning() const;
    bool stopRenderTimer();
    void armRenderTimer();

    // The display paints view 1 larger than `photo`'s display copy: a copy fitted into `box` (device
    // pixels) is prepared off the main thread, and the photo shown again when it lands. Only for JPEG
    // and HEIC photos; a raw frame is painted from its full frame.
    void prepareLargerCopy(const PhotoImage& photo, QSize box);
    // The display paints view 1's raw photo (slot `slot`) larger than its display copy: that slot's
    // full frame is converted next, ahead of the rest of the set.
    void prepareFullFrameFirst(int slot);

    // Preparation bookkeeping, for the display and for tests.
    std::uint64_t generation() const { return generation_; }
    // Jobs of the current set (slots and previews) not yet landed.
    int pendingPreparations() const { return pipeline_.pending(); }
    // Preparation jobs whose results came back since the engine was made.
    int jobsDone() const { return pipeline_.jobsDone(); }
    // A tick is waiting for its photo (or for the first photos of a set).
    bool tickWaiting() const { return waiting_; }
    // Blocks until the pool has nothing running or queued; for tests and benchmarks only.
    void waitForPool() { pipeline_.waitForPool(); }
    PhotoCache& cache() { return pipeline_.cache(); }
    PreparationPipeline& pipeline() { return pipeline_; }
    // The deadline of the tick running now (or of the last one), on the render timer's clock.
    std::int64_t tickDueNs() const { return tickDueNs_; }
    std::int64_t nowNs() const;

Q_SIGNALS:
    // A slot of the current set got its prepared image (1-based).
    void slotPrepared(int slot);
    // The running pass's latest progress; coalesced, so a slow receiver sees the newest state only.
    void playlistProgress(const qr::PlaylistProgress& progress);
    // How a pass ended. `rejection` says why nothing is playable when the pass found no playable set,
    // or why a pass stopped by itself (the disk nearly full).
    void playlistPassEnded(qr::PlayerEngine::PassEnd end, const QString& rejection);
    // `ready` of the playlist's `total` sets are ready (see setsReady()); total 0: no playlist.
    void setsReadyChanged(int ready, int total);

private Q_SLOTS:
    // Forwards the pass's newest progress (queued from the pass).
    void deliverProgress();

private:
    enum class ArmMode { FromNow, Chained };
    using Job = PreparationPipeline::Job;

    void arm(ArmMode mode);
    // Step 3 of a tick: the next photo, unless the tick has to wait for it first.
    void advance();
    bool mustWait(std::int32_t photo);
    // The first tick of a set waits until the photos prepared so far and the pace of their preparation
    // let the rest of the set be on time, or at most the pre-roll limit.
    bool preRolled();
    void resumeWaitingTick();
    void displayStep(const PhotoImage& first);
    void emptySlots(int count);
    std::vector<Job> slotJobs(const QStringList& list, bool raw, std::vector<QSize>* expected);
    std::optional<Job> previewJob(int view, const QStringList& list);
    // The photos of set `pair` (1-based) of the index list; empty when it has none.
    QStringList setPhotos(std::int32_t pair) const;
    bool isFileSet(std::int32_t pair) const;
    void landSlot(int slot, const PhotoImage& image);
    void completeSlot(int slot, const PhotoImage& image);
    void landLarger(const QString& path, QSize box, const QImage& image);
    void updateZoomMaximum(const PhotoImage& slot1);
    void moveToSet(std::int32_t setNumber);
    // Clears view 1 at a set change, unless the set starting is a JPEG or HEIC set: its first photo
    // takes the place of the last one shown.
    void clearMainDisplayFor(std::int32_t pair);
    // Counts what each set of a new playlist still needs made ahead (none for JPEG and raw sets).
    void countSetsToPrepare();
    // Queues the disk copies of the sets not yet ready, in playing order from the set on display,
    // as far as they fit in three quarters of the disk cache's budget.
    void prepareSetsAhead();
    void diskCopyMade(int set, const QString& path, bool ok);

    PlayerDisplay* display_;
    std::unique_ptr<RenderTimer> timer_;
    PlayerState s_;
    KroxDecoder kroxDecoder_;
    QString m_unpackRecord;
    std::uint64_t generation_ = 0;
    // Counts the user's pauses: a set start posted before a pause does not start playback after it.
    std::uint64_t pauses_ = 0;
    bool currentRaw_ = false;
    // The one photo that holds a larger copy (its bytes are reserved in the cache's budget).
    PhotoImage largerHolder_;
    std::int64_t deadlineNs_ = 0;
    std::int64_t tickDueNs_ = 0;
    std::int64_t setStartNs_ = 0;
    // A tick is waiting (for its photo, or for the set's pre-roll).
    bool waiting_ = false;
    bool preRollDone_ = false;
    int landedSinceStart_ = 0;
    // A photo put on the display before its slot was prepared: shown when it lands, if still current.
    int awaitedSlot_ = 0;
    // The set start whose first photo waits for its display copy before it is shown.
    std::uint64_t slot1Deferred_ = 0;
    // The pass started last: its stop flag, whether its end is still to come (main thread), and its
    // newest progress, handed over under its own lock since the pass reports far more often than
    // the main thread looks. The pass's thread shares the progress box, which outlives the engine
    // when the pass is still running at the end.
    struct ProgressBox {
        std::mutex lock;
        std::optional<PlaylistProgress> progress;
        std::uint64_t generation = 0;
        PlayerEngine* owner = nullptr; // woken when a report arrives; null once it has ended
    };
    std::uint64_t passGeneration_ = 0;
    std::shared_ptr<std::atomic<bool>> passStop_;
    bool passRunning_ = false;
    std::shared_ptr<ProgressBox> progress_ = std::make_shared<ProgressBox>();
    std::shared_ptr<PhotoDiskCache> disk_;
    // Per set of the playlist (index: number - 1), the HEIC photos whose copies are still to be made
    // ahead; the photos made so far.
    std::vector<int> copiesLeft_;
    QSet<QString> copiesMade_;
    int setsReady_ = 0;
    PreparationPipeline pipeline_; // last: its pool stops before the rest goes
};

} // namespace qr
