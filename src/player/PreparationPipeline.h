#pragma once

#include "decode/RawFrame.h"
#include "player/FrameSettler.h"
#include "player/PhotoCache.h"
#include "player/PhotoDiskCache.h"
#include "player/PhotoImage.h"
#include "player/PlayerState.h"
#include "player/Playlist.h"

#include <QHash>
#include <QObject>
#include <QRunnable>
#include <QSize>
#include <QString>
#include <QThreadPool>

#include <array>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace qr {

// The preparation of photos off the main thread: the job queue, the engine's own thread pool, the
// adoption of work already under way, the cache of prepared photos, and preparing the set that plays
// next once the one playing is prepared. It knows slots only as numbers: the engine asks for the
// slots of the set it starts and gets each photo back through slotReady().
//
// Main-thread API; the pool threads touch nothing but the mailbox and their job.
class PreparationPipeline : public QObject {
    Q_OBJECT
public:
    struct Job {
        // A raw slot is prepared in two steps: its display copy (RawDisplay) first for every slot, then
        // its full frame (RawSlot), which the slot takes over when it lands.
        // A DiskCopy job makes a HEIC photo's display copy into the disk cache ahead of its set (index:
        // the set's number), and only while nothing else waits to be prepared.
        enum class Kind { RawSlot, RawDisplay, FileSlot, RawPreview, FilePreview, FileLarger, DiskCopy };
        Kind kind = Kind::RawSlot;
        std::uint64_t generation = 0; // of the set start that asked for it
        int index = 0;                // slot (1-based), or view of a preview
        QString path;
        FrameSize size; // raw frames
        QSize box;      // the size the display copy is fitted into
        PhotoCache::Stamp stamp;
        // Where the display copy of a HEIC photo is kept between runs; none when null.
        std::shared_ptr<PhotoDiskCache> disk;

        bool isSlot() const
        {
            return kind == Kind::RawSlot || kind == Kind::RawDisplay || kind == Kind::FileSlot;
        }
        // A full raw frame serves every display size (a slot paints from its full frame when its copy
        // does not fit); a display copy only the size it was made for.
        QSize cacheBox() const { return kind == Kind::RawSlot ? QSize() : box; }
    };

    // A display copy to write to the disk cache, once nothing is waiting to be prepared.
    struct DiskStore {
        std::shared_ptr<PhotoDiskCache> disk;
        PhotoDiskCache::Key key;
        QImage image;
    };

    // The one place a job is made.
    static Job makeJob(Job::Kind kind, int index, const QString& path, QSize box, FrameSize size = {});

    explicit PreparationPipeline(QObject* parent = nullptr);
    // Drops queued work and waits for the work already running, up to kEndWaitMs: a photo decode
    // cannot be interrupted. Work still running then is left to finish on its own; it touches
    // nothing of the pipeline but what it leaves behind with it.
    ~PreparationPipeline() override;

    static constexpr int kEndWaitMs = 250;
    // How many pipelines ended with work left running, in this process. Such work runs on into the
    // process's end: the end must not tear down the libraries that work uses.
    static int endedWithWorkRunning();

    // Display copies of HEIC slots are looked up in `disk` before they are decoded, and stored there
    // after. Set before the first set start.
    void setDiskCache(std::shared_ptr<PhotoDiskCache> disk) { disk_ = std::move(disk); }

    // A playlist pass on the pool; passFinished() brings back the result of the last one started as
    // soon as every frame is decompressed. The frames are then settled (each `.rgb` flushed to disk,
    // then its `.rgb2` removed) in the background until the request's stop flag is set; a pass waits
    // for the settling before it to end before it starts.
    void runPass(PlaylistRequest request);

    // A set start. Work queued for an earlier one is dropped (larger copies too); work already running
    // is kept so that a slot asking for the same photo adopts it. `slots` holds the set's slot jobs in
    // playing order, `previews` the side previews, `next` the slots of the set that plays after it (prepared
    // into the cache once this set is). Returns, per slot job, the photo found in the cache (null when the
    // slot waits for slotReady()). A raw slot whose cached frame has not `expected` size (when valid)
    // is prepared again.
    std::vector<PhotoImage> startSet(std::uint64_t generation, const std::vector<Job>& slots,
                                     const std::vector<Job>& previews, std::vector<Job> next,
                                     const std::vector<QSize>& expected = {});
    // Nothing of the current set is waited for any more (a new playlist).
    void clearSet();

    // A larger copy of a JPEG or HEIC photo, fitted into `box`, for zooming past its display copy:
    // largerReady() brings it back unless a set start came first. The latest request replaces any
    // still queued, and waits behind the slots the current set still waits for.
    void prepareLarger(const QString& path, QSize box);

    // The queued full frame of the raw photo at `path` is converted next.
    void prepareFrameFirst(const QString& path);

    // Display copies made into the disk cache ahead of their sets, in the order given, replacing the
    // ones still queued: one at a time, at the lowest priority, and only while no other work is
    // queued. Each brings diskCopyReady() back, whether it was made or found on the disk. Nothing
    // without a disk cache.
    void prepareDiskCopies(std::vector<Job> jobs);
    // Drops the disk copies still queued; the one being made (at most one) is finished.
    void stopDiskCopies();
    // At the lowest priority (the default) or at the pool's; set before the first copy. Tests that
    // wait for copies to be made use the pool's, so that a busy machine cannot starve them.
    void setDiskCopiesAtLowestPriority(bool lowest);
    int queuedDiskCopies() const;

    // Slots (1-based) of the current set still waiting for their photo.
    bool slotPending(int slot) const;
    int pendingSlots() const;
    // Jobs waiting in the queue, not yet taken by a worker; for tests.
    int queuedJobs() const;
    // Jobs of the current set start (slots and previews) not yet landed.
    int pending() const { return pending_; }
    // Jobs whose results came back since the pipeline was made.
    int jobsDone() const { return jobsDone_; }
    // Blocks until the pool has nothing running or queued and no settling is under way; for tests and
    // benchmarks only.
    void waitForPool();
    // While held, the pool takes jobs from the queue but starts none (a pass is not held); for tests
    // that need work under way at a given moment.
    void hold(bool held);
    PhotoCache& cache() { return cache_; }
    FrameSettler& settler() { return mailbox_->settler; }

Q_SIGNALS:
    void slotReady(int slot, const qr::PhotoImage& photo);
    // A raw slot that shows its display copy got its full frame (the same copy with it).
    void slotCompleted(int slot, const qr::PhotoImage& photo);
    void previewReady(int view, const qr::PhotoImage& photo);
    void largerReady(const QString& path, QSize box, const QImage& image);
    void passFinished(const qr::PlaylistResult& result);
    // A DiskCopy job ended: the copy of the photo at `path` is on the disk, unless it failed.
    void diskCopyReady(int set, const QString& path, bool ok);

private Q_SLOTS:
    // Takes the finished work out of the mailbox (queued from the pool).
    void drainResults();

private:
    struct Done {
        Job job;
        PhotoImage photo;
        QImage larger;
        bool ok = false; // a disk copy's
    };
    struct Pass {
        std::uint64_t generation = 0;
        PlaylistRequest request;
    };
    struct PassDone {
        std::uint64_t generation = 0;
        PlaylistResult result;
    };
    // Everything the pool threads touch: work goes in and results come out only under `lock`, so
    // that everything a worker reads or writes is handed over whole. Owned by the pipeline, or by the
    // work left running at its end.
    struct Mailbox {
        std::mutex lock;
        std::deque<Job> jobs;
        std::deque<DiskStore> stores;
        std::deque<Job> diskCopies;
        bool diskCopyRunning = false;
        bool diskCopiesLowest = true;
        bool held = false;
        std::condition_variable released;
        std::optional<Pass> pass;
        std::vector<Done> done;
        std::vector<PassDone> passesDone;
        PreparationPipeline* owner = nullptr; // told when results arrive; null once it has ended
        int framesRunning = 0;                // full raw frames being converted
        // Settles the frames of the passes run here; waited for (destroyed) after the pool.
        FrameSettler settler;
        // Where a worker hands a runner back when it leaves queued frames to the next one.
        QThreadPool* pool = nullptr;
        QRunnable* runner = nullptr;
        // The disk copies' own thread, at the lowest priority, started again when other work ends.
        QThreadPool* copyPool = nullptr;
        QRunnable* copyRunner = nullptr;
    };
    // The one runnable the pool runs, again and again: it takes the next piece of work from the
    // mailbox. Made before any pool thread exists.
    class Runner : public QRunnable {
    public:
        explicit Runner(Mailbox* mailbox) : mailbox_(mailbox) { setAutoDelete(false); }
        void run() override { runOne(*mailbox_); }

    private:
        Mailbox* mailbox_;
    };
    class CopyRunner : public QRunnable {
    public:
        explicit CopyRunner(Mailbox* mailbox) : mailbox_(mailbox) { setAutoDelete(false); }
        void run() override { runDiskCopy(*mailbox_); }

    private:
        Mailbox* mailbox_;
    };
    // Work under way is found again by file and, for JPEG and HEIC copies, the size they are made at.
    static QString flightKey(const Job& job);
    // A raw slot's full frame from the cache, else its display copy; a JPEG or HEIC slot's copy.
    PhotoImage cached(const Job& job);

    static void runOne(Mailbox& mailbox);
    static void runDiskCopy(Mailbox& mailbox);
    // Under the mailbox's lock: the disk copies go on once nothing else is queued.
    static void resumeDiskCopies(Mailbox& mailbox);
    void enqueue(std::vector<Job> jobs);
    // Takes the queued, not yet started jobs back out of the mailbox.
    void dropQueuedJobs();
    void leaveFlight(const Job& job);
    void prepareNext();
    // Counts one job of the current set start as landed; true when it was the last.
    bool landed();

    std::shared_ptr<PhotoDiskCache> disk_;
    std::uint64_t generation_ = 0;
    std::uint64_t passGeneration_ = 0;
    int pending_ = 0;
    int jobsDone_ = 0;
    // The current set: slots waiting for their photo, the slot of each file, and the job each waits on.
    std::array<bool, PlayerState::kShownSlots> slotPending_{};
    QHash<QString, int> slotOfKey_;
    std::vector<Job> next_;
    // Jobs queued or running, by flight key, so that none is prepared twice.
    QHash<QString, int> inFlight_;
    // Prepared photos of earlier set starts, beyond those of the set playing now (which stay while
    // they are in its slots).
    PhotoCache cache_{std::int64_t{512} << 20};

    std::unique_ptr<Mailbox> mailbox_ = std::make_unique<Mailbox>();
    std::unique_ptr<Runner> runner_ = std::make_unique<Runner>(mailbox_.get());
    std::unique_ptr<QThreadPool> pool_ = std::make_unique<QThreadPool>();
    std::unique_ptr<CopyRunner> copyRunner_ = std::make_unique<CopyRunner>(mailbox_.get());
    std::unique_ptr<QThreadPool> copyPool_ = std::make_unique<QThreadPool>();
};

} // namespace qr
