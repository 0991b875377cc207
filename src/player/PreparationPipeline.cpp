#include "player/PreparationPipeline.h"

#include "platform/LogCategories.h"
#include "platform/ThreadPriority.h"
#include "player/PhotoDecoder.h"
#include "player/SetPreparer.h"

#include <QElapsedTimer>
#include <QMetaObject>
#include <QThread>

#include <algorithm>
#include <atomic>

namespace qr {

namespace {

std::atomic<int> endedWithWorkRunningCount{0};

// Slots handed to the pool ahead of the side previews; the rest follow them.
constexpr int kUrgentSlots = 3;
// Display copies kept waiting for the disk cache, in bytes at most: a set's copies, so that its
// decodes are not slowed by writing (the set's slots hold the same images meanwhile).
constexpr qsizetype kPendingStoreBytes = qsizetype{320} << 20;

// A raw frame that gave nothing, or a JPEG or HEIC photo that gave no display copy when one was asked
// for (its slot keeps the file reference).
bool failedToPrepare(const PreparationPipeline::Job& job, const PhotoImage& photo)
{
    return photo.isNull() || (job.box.isValid() && !job.box.isEmpty() && photo.displayImage().isNull());
}

// A JPEG or HEIC slot: with a disk cache, the display copy comes from there when it holds one for
// this file as it is now, else it is decoded and `store` receives what to write there.
PhotoImage prepareFileSlot(const PreparationPipeline::Job& job,
                           std::optional<PreparationPipeline::DiskStore>& store)
{
    const bool copies = job.box.isValid() && !job.box.isEmpty();
    if (!job.disk || !copies || job.stamp.size < 0)
        return SetPreparer::preparePhoto(job.path, job.box);
    // The file as it is now, its first and last bytes included.
    const PhotoDiskCache::Key key = PhotoDiskCache::keyFor(job.path, job.box);
    QImage copy = job.disk->load(key);
    if (!copy.isNull())
        return PhotoImage::fromFile(job.path, std::move(copy), PhotoDecoder::naturalSize(job.path));
    PhotoImage photo = SetPreparer::preparePhoto(job.path, job.box);
    if (!photo.displayImage().isNull())
        store = PreparationPipeline::DiskStore{job.disk, key, photo.displayImage()};
    return photo;
}

} // namespace

PreparationPipeline::Job PreparationPipeline::makeJob(Job::Kind kind, int index, const QString& path,
                                                      QSize box, FrameSize size)
{
    Job job;
    job.kind = kind;
    job.index = index;
    job.path = path;
    job.size = size;
    job.box = box;
    // A JPEG or HEIC slot without a display size asks for nothing but the file reference.
    if (job.isSlot() && (kind == Job::Kind::RawSlot || (box.isValid() && !box.isEmpty())))
        job.stamp = PhotoCache::stampOf(path);
    return job;
}

QString PreparationPipeline::flightKey(const Job& job)
{
    const QSize box = job.cacheBox();
    return box.isValid() ? job.path + QStringLiteral("\n%1x%2").arg(box.width()).arg(box.height()) : job.path;
}

PreparationPipeline::PreparationPipeline(QObject* parent) : QObject(parent)
{
    mailbox_->owner = this;
    mailbox_->pool = pool_.get();
    mailbox_->runner = runner_.get();
    mailbox_->copyPool = copyPool_.get();
    mailbox_->copyRunner = copyRunner_.get();
    pool_->setMaxThreadCount(std::max(1, QThread::idealThreadCount()));
    // Idle pool threads end soon, and with them their frame-sized scratch buffers.
    pool_->setExpiryTimeout(2000);
    copyPool_->setMaxThreadCount(1);
    copyPool_->setExpiryTimeout(2000);
}

PreparationPipeline::~PreparationPipeline()
{
    {
        const std::lock_guard lock(mailbox_->lock);
        mailbox_->jobs.clear();
        mailbox_->stores.clear();
        mailbox_->diskCopies.clear();
        mailbox_->pass.reset();
        mailbox_->held = false;
        mailbox_->owner = nullptr;
    }
    mailbox_->released.notify_all();
    // A pass may be waiting for a held settling before it.
    mailbox_->settler.hold(false);
    pool_->clear();
    copyPool_->clear();
    QElapsedTimer waited;
    waited.start();
    if (pool_->waitForDone(kEndWaitMs) &&
        copyPool_->waitForDone(std::max(0, kEndWaitMs - static_cast<int>(waited.elapsed())))) {
        // Orders the workers' last use of the mailbox before it goes, through a lock the project
        // owns (the pool's own wait is invisible to a race checker).
        const std::lock_guard lock(mailbox_->lock);
        return;
    }
    // The work still running keeps the pool, the runner and the mailbox; they are never freed.
    endedWithWorkRunningCount.fetch_add(1);
    qCDebug(lcPlayer) << "preparation still running at the end:" << pool_->activeThreadCount() << "jobs";
    (void)pool_.release();
    (void)runner_.release();
    (void)copyPool_.release();
    (void)copyRunner_.release();
    (void)mailbox_.release();
}

int PreparationPipeline::endedWithWorkRunning()
{
    return endedWithWorkRunningCount.load();
}

// Pool side ---------------------------------------------------------------------------------------

void PreparationPipeline::runOne(Mailbox& m)
{
    ThreadPriority::lowerForBackgroundWork();
    std::optional<Pass> pass;
    std::optional<Job> job;
    std::optional<DiskStore> diskStore;
    std::optional<DiskStore> ownStore; // written by this worker once its result is handed over
    {
        const std::lock_guard lock(m.lock);
        if (m.pass) {
            pass = std::move(m.pass);
            m.pass.reset();
        } else {
            // Full raw frames are converted one at a time: each faults in fresh memory, and a core
            // stays free for the display copies and for the main thread's ticks.
            const auto next = std::find_if(m.jobs.begin(), m.jobs.end(), [&m](const Job& queued) {
                return queued.kind != Job::Kind::RawSlot || m.framesRunning == 0;
            });
            if (next != m.jobs.end()) {
                job = std::move(*next);
                m.jobs.erase(next);
                m.framesRunning += job->kind == Job::Kind::RawSlot ? 1 : 0;
            } else if (m.jobs.empty() && !m.stores.empty()) {
                // Copies go to the disk cache only when nothing is waiting to be prepared.
                diskStore = std::move(m.stores.front());
                m.stores.pop_front();
            }
        }
    }
    if (diskStore) {
        diskStore->disk->store(diskStore->key, diskStore->image);
        const std::lock_guard lock(m.lock);
        resumeDiskCopies(m);
        return;
    }
    if (job) {
        // A held job counts as running: it is no longer queued when the hold ends.
        std::unique_lock lock(m.lock);
        m.released.wait(lock, [&m] { return !m.held; });
    }
    QList<DecompressedFrame> unsettled;
    QString root;
    std::shared_ptr<const std::atomic<bool>> stop;
    if (pass) {
        // The settling of the pass before may still be removing `.rgb2` files whose frames this
        // pass would decompress again.
        m.settler.waitUntilIdle();
        stop = pass->request.stop;
        pass->request.settleLater = true;
        PassDone done{pass->generation, Playlist::generatePlaylist(std::move(pass->request))};
        unsettled.swap(done.result.unsettled);
        root = done.result.symbolicPath;
        const std::lock_guard lock(m.lock);
        m.passesDone.push_back(std::move(done));
    } else if (job) {
        std::optional<DiskStore> store;
        Done done;
        switch (job->kind) {
        case Job::Kind::RawSlot:
            done.photo = SetPreparer::prepareRawFrame(job->path, job->size, job->box);
            break;
        case Job::Kind::RawDisplay:
            done.photo = SetPreparer::prepareRawDisplay(job->path, job->size, job->box);
            break;
        case Job::Kind::FileSlot:
            done.photo = prepareFileSlot(*job, store);
            break;
        case Job::Kind::FilePreview:
            done.photo = SetPreparer::preparePreview(job->path, job->box);
            break;
        case Job::Kind::RawPreview:
            done.photo = SetPreparer::prepareRawPreview(job->path, job->size, job->box);
            break;
        case Job::Kind::FileLarger:
            done.larger = PhotoDecoder::decode(job->path, job->box);
            break;
        case Job::Kind::DiskCopy:
            break; // never queued here
        }
        done.job = std::move(*job);
        std::unique_lock lock(m.lock);
        // Copies waiting for the disk are held in memory: beyond a few, this worker writes its own.
        qsizetype pendingBytes = 0;
        for (const DiskStore& pending : m.stores)
            pendingBytes += pending.image.sizeInBytes();
        if (store && (m.stores.empty() || pendingBytes + store->image.sizeInBytes() <= kPendingStoreBytes)) {
            m.stores.push_back(std::move(*store));
            m.pool->start(m.runner);
            store.reset();
        }
        if (done.job.kind == Job::Kind::RawSlot) {
            // A runner that found only frames queued behind this one left them for this worker.
            --m.framesRunning;
            if (!m.jobs.empty())
                m.pool->start(m.runner);
        }
        m.done.push_back(std::move(done));
        ownStore = std::move(store);
    } else {
        return; // the work was dropped by a later set start
    }
    // Under the lock: the pipeline is either not yet ending, so the event reaches it, or has ended.
    bool ending = false;
    {
        const std::lock_guard lock(m.lock);
        ending = m.owner == nullptr;
        if (!ending)
            QMetaObject::invokeMethod(m.owner, "drainResults", Qt::QueuedConnection);
    }
    if (ownStore && !ending)
        ownStore->disk->store(ownStore->key, ownStore->image);
    {
        const std::lock_guard lock(m.lock);
        resumeDiskCopies(m);
    }
    // After the hand-over: playback reads the new frames from the system's cache meanwhile. A pipeline
    // that has ended settles nothing: both files of each frame stay.
    if (!unsettled.isEmpty() && !ending)
        m.settler.start(root, unsettled, std::move(stop));
}

void PreparationPipeline::resumeDiskCopies(Mailbox& m)
{
    if (m.owner && m.jobs.empty() && m.stores.empty() && !m.pass && !m.diskCopyRunning &&
        !m.diskCopies.empty())
        m.copyPool->start(m.copyRunner);
}

void PreparationPipeline::runDiskCopy(Mailbox& m)
{
    Job job;
    {
        const std::lock_guard lock(m.lock);
        if (m.diskCopiesLowest)
            ThreadPriority::lowerToIdle();
        else
            ThreadPriority::lowerForBackgroundWork();
        // Other work first: it starts this again when it ends.
        if (m.diskCopyRunning || m.diskCopies.empty() || !m.jobs.empty() || !m.stores.empty() || m.pass)
            return;
        job = std::move(m.diskCopies.front());
        m.diskCopies.pop_front();
        m.diskCopyRunning = true;
    }
    {
        std::unique_lock lock(m.lock);
        m.released.wait(lock, [&m] { return !m.held; });
    }
    bool ok = false;
    const PhotoDiskCache::Key key = PhotoDiskCache::keyFor(job.path, job.box);
    if (job.disk && key.size >= 0) {
        ok = job.disk->contains(key);
        if (!ok) {
            const PhotoImage photo = SetPreparer::preparePhoto(job.path, job.box);
            ok = !photo.displayImage().isNull() && job.disk->store(key, photo.displayImage());
        }
    }
    const std::lock_guard lock(m.lock);
    m.diskCopyRunning = false;
    Done done;
    done.job = std::move(job);
    done.ok = ok;
    m.done.push_back(std::move(done));
    if (!m.owner)
        return;
    QMetaObject::invokeMethod(m.owner, "drainResults", Qt::QueuedConnection);
    resumeDiskCopies(m);
}

void PreparationPipeline::prepareDiskCopies(std::vector<Job> jobs)
{
    if (!disk_)
        return;
    const std::lock_guard lock(mailbox_->lock);
    mailbox_->diskCopies.clear();
    for (Job& job : jobs) {
        job.kind = Job::Kind::DiskCopy;
        job.disk = disk_;
        mailbox_->diskCopies.push_back(std::move(job));
    }
    resumeDiskCopies(*mailbox_);
}

void PreparationPipeline::setDiskCopiesAtLowestPriority(bool lowest)
{
    const std::lock_guard lock(mailbox_->lock);
    mailbox_->diskCopiesLowest = lowest;
}

void PreparationPipeline::stopDiskCopies()
{
    const std::lock_guard lock(mailbox_->lock);
    mailbox_->diskCopies.clear();
}

int PreparationPipeline::queuedDiskCopies() const
{
    const std::lock_guard lock(mailbox_->lock);
    return static_cast<int>(mailbox_->diskCopies.size());
}

void PreparationPipeline::waitForPool()
{
    pool_->waitForDone();
    copyPool_->waitForDone();
    mailbox_->settler.waitUntilIdle();
}

int PreparationPipeline::queuedJobs() const
{
    const std::lock_guard lock(mailbox_->lock);
    return static_cast<int>(mailbox_->jobs.size());
}

void PreparationPipeline::hold(bool held)
{
    {
        const std::lock_guard lock(mailbox_->lock);
        mailbox_->held = held;
    }
    mailbox_->released.notify_all();
}

void PreparationPipeline::runPass(PlaylistRequest request)
{
    Pass pass;
    pass.generation = ++passGeneration_;
    pass.request = std::move(request);
    {
        const std::lock_guard lock(mailbox_->lock);
        mailbox_->pass = std::move(pass);
    }
    pool_->start(runner_.get());
}

void PreparationPipeline::dropQueuedJobs()
{
    std::deque<Job> dropped;
    {
        const std::lock_guard lock(mailbox_->lock);
        dropped.swap(mailbox_->jobs);
    }
    for (const Job& job : dropped)
        leaveFlight(job);
}

void PreparationPipeline::leaveFlight(const Job& job)
{
    if (!job.isSlot() && job.kind != Job::Kind::FileLarger)
        return;
    const auto it = inFlight_.find(flightKey(job));
    if (it != inFlight_.end() && --*it <= 0)
        inFlight_.erase(it);
}

void PreparationPipeline::enqueue(std::vector<Job> jobs)
{
    for (Job& job : jobs) {
        if (job.isSlot() || job.kind == Job::Kind::FileLarger)
            ++inFlight_[flightKey(job)];
        // Only HEIC copies go to the disk cache: libjpeg-turbo's scaled decoding of a camera photo
        // costs less than writing its display copy (12-48 MB) and reading it back, which took a
        // quarter of a first play.
        if (job.kind == Job::Kind::FileSlot && PhotoDecoder::isHeic(job.path))
            job.disk = disk_;
    }
    {
        const std::lock_guard lock(mailbox_->lock);
        for (Job& job : jobs)
            mailbox_->jobs.push_back(std::move(job));
    }
    for (std::size_t i = 0; i < jobs.size(); ++i)
        pool_->start(runner_.get());
}

// Main-thread side ------------------------------------------------------------------------------

std::vector<PhotoImage> PreparationPipeline::startSet(std::uint64_t generation, const std::vector<Job>& slots,
                                                      const std::vector<Job>& previews, std::vector<Job> next,
                                                      const std::vector<QSize>& expected)
{
    generation_ = generation;
    clearSet();
    dropQueuedJobs();
    next_ = std::move(next);
    std::vector<PhotoImage> found(slots.size());
    std::vector<Job> queue;
    // Full raw frames, converted once every slot has its display copy.
    std::vector<Job> frames;
    for (std::size_t i = 0; i < slots.size(); ++i) {
        Job job = slots[i];
        job.generation = generation;
        const bool hasBox = job.box.isValid() && !job.box.isEmpty();
        const bool raw = job.kind == Job::Kind::RawSlot;
        if (!raw && !hasBox)
            continue;
        PhotoImage photo = cached(job);
        if (!photo.isNull() && i < expected.size() && expected[i].isValid() && photo.size() != expected[i])
            photo = PhotoImage();
        const QString key = flightKey(job);
        slotOfKey_.insert(key, job.index);
        // Work already under way for this photo (from an earlier set start, or ahead) is adopted.
        const bool frameUnderWay = inFlight_.contains(key);
        if (!photo.isNull()) {
            found[i] = photo;
            if (raw && photo.fullImage().isNull() && !frameUnderWay)
                frames.push_back(std::move(job));
            continue;
        }
        slotPending_[static_cast<std::size_t>(job.index - 1)] = true;
        ++pending_;
        if (frameUnderWay)
            continue;
        if (raw && hasBox) {
            Job copy = job;
            copy.kind = Job::Kind::RawDisplay;
            const QString copyKey = flightKey(copy);
            slotOfKey_.insert(copyKey, job.index);
            if (!inFlight_.contains(copyKey))
                queue.push_back(std::move(copy));
            frames.push_back(std::move(job));
        } else {
            queue.push_back(std::move(job));
        }
    }
    // The first slots go first, then the side previews, then the rest of the set.
    std::vector<Job> jobs;
    const std::size_t urgent = std::min<std::size_t>(queue.size(), kUrgentSlots);
    jobs.insert(jobs.end(), queue.begin(), queue.begin() + static_cast<std::ptrdiff_t>(urgent));
    for (Job job : previews) {
        job.generation = generation;
        jobs.push_back(std::move(job));
        ++pending_;
    }
    jobs.insert(jobs.end(), queue.begin() + static_cast<std::ptrdiff_t>(urgent), queue.end());
    jobs.insert(jobs.end(), frames.begin(), frames.end());
    enqueue(std::move(jobs));
    if (pending_ == 0)
        prepareNext();
    return found;
}

PhotoImage PreparationPipeline::cached(const Job& job)
{
    if (job.kind != Job::Kind::RawSlot && job.kind != Job::Kind::RawDisplay)
        return cache_.find(job.path, job.cacheBox(), job.stamp);
    PhotoImage frame = cache_.find(job.path, QSize(), job.stamp);
    if (!frame.isNull() || !job.box.isValid() || job.box.isEmpty())
        return frame;
    return cache_.find(job.path, job.box, job.stamp);
}

void PreparationPipeline::clearSet()
{
    pending_ = 0;
    slotPending_.fill(false);
    slotOfKey_.clear();
    next_.clear();
}

void PreparationPipeline::prepareLarger(const QString& path, QSize box)
{
    Job job = makeJob(Job::Kind::FileLarger, 0, path, box);
    job.generation = generation_;
    if (inFlight_.contains(flightKey(job)))
        return;
    ++inFlight_[flightKey(job)];
    std::vector<Job> replaced;
    {
        const std::lock_guard lock(mailbox_->lock);
        // The latest request wins: the display wants only the photo it shows now.
        for (auto it = mailbox_->jobs.begin(); it != mailbox_->jobs.end();) {
            if (it->kind == Job::Kind::FileLarger) {
                replaced.push_back(std::move(*it));
                it = mailbox_->jobs.erase(it);
            } else {
                ++it;
            }
        }
        // Behind the slots the current set still waits for; ahead of the set prepared ahead, which
        // is queued only once every slot has landed.
        if (pendingSlots() > 0)
            mailbox_->jobs.push_back(std::move(job));
        else
            mailbox_->jobs.push_front(std::move(job));
    }
    for (const Job& old : replaced)
        leaveFlight(old);
    if (replaced.empty())
        pool_->start(runner_.get());
}

void PreparationPipeline::prepareFrameFirst(const QString& path)
{
    const std::lock_guard lock(mailbox_->lock);
    auto& jobs = mailbox_->jobs;
    const auto it = std::find_if(jobs.begin(), jobs.end(), [&path](const Job& job) {
        return job.kind == Job::Kind::RawSlot && job.path == path;
    });
    if (it == jobs.end() || it == jobs.begin())
        return;
    Job job = std::move(*it);
    jobs.erase(it);
    jobs.push_front(std::move(job));
}

bool PreparationPipeline::slotPending(int slot) const
{
    return slot >= 1 && slot <= PlayerState::kShownSlots && slotPending_[static_cast<std::size_t>(slot - 1)];
}

int PreparationPipeline::pendingSlots() const
{
    return static_cast<int>(std::count(slotPending_.begin(), slotPending_.end(), true));
}

void PreparationPipeline::prepareNext()
{
    // What fits the cache's budget beside what it holds, in playing order.
    std::int64_t budget = cache_.budget() - cache_.unheldBytes();
    std::vector<Job> jobs;
    for (Job& job : next_) {
        // Raw frames ahead as their display copies: the full frames follow when their set starts.
        if (job.kind == Job::Kind::RawSlot && job.box.isValid() && !job.box.isEmpty())
            job.kind = Job::Kind::RawDisplay;
        if (inFlight_.contains(flightKey(job)) || !cached(job).isNull())
            continue;
        const std::int64_t copy =
            std::int64_t{std::max(job.box.width(), 0)} * std::max(job.box.height(), 0) * 4;
        budget -=
            job.kind == Job::Kind::RawSlot ? std::int64_t{job.size.width} * job.size.height * 4 + copy : copy;
        if (budget < 0)
            break;
        job.generation = generation_;
        jobs.push_back(std::move(job));
    }
    next_.clear();
    enqueue(std::move(jobs));
}

bool PreparationPipeline::landed()
{
    return pending_ > 0 && --pending_ == 0;
}

void PreparationPipeline::drainResults()
{
    std::vector<Done> done;
    std::vector<PassDone> passes;
    {
        const std::lock_guard lock(mailbox_->lock);
        done.swap(mailbox_->done);
        passes.swap(mailbox_->passesDone);
    }
    for (const PassDone& pass : passes) {
        if (pass.generation == passGeneration_)
            Q_EMIT passFinished(pass.result);
    }
    jobsDone_ += static_cast<int>(done.size());
    for (const Done& d : done) {
        const Job& job = d.job;
        if (job.kind == Job::Kind::DiskCopy) {
            Q_EMIT diskCopyReady(job.index, job.path, d.ok);
            continue;
        }
        if (job.kind == Job::Kind::FileLarger) {
            leaveFlight(job);
            // A set change drops what was asked for the set before.
            if (!d.larger.isNull() && job.generation == generation_)
                Q_EMIT largerReady(job.path, job.box, d.larger);
            continue;
        }
        if (failedToPrepare(job, d.photo)) {
            if (job.kind == Job::Kind::RawSlot || job.kind == Job::Kind::RawDisplay ||
                job.kind == Job::Kind::RawPreview)
                qCDebug(lcPlayer).noquote() << job.path << "not prepared: unreadable or shorter than"
                                            << job.size.width << "x" << job.size.height << "x 3 bytes";
            else
                qCDebug(lcPlayer).noquote() << job.path << "not prepared: does not decode";
        }
        if (job.isSlot()) {
            leaveFlight(job);
            // A display copy never takes the place of the full frame it was made from.
            const bool copyOfCachedFrame =
                job.kind == Job::Kind::RawDisplay && !cache_.find(job.path, QSize(), job.stamp).isNull();
            if ((job.kind == Job::Kind::RawSlot || !d.photo.displayImage().isNull()) && !copyOfCachedFrame)
                cache_.insert(job.path, job.cacheBox(), job.stamp, d.photo);
            // Whichever set start asked for it: a photo lands in the slot of the current set that waits
            // for this file at this size.
            const auto it = slotOfKey_.constFind(flightKey(job));
            if (it != slotOfKey_.cend() && !slotPending(*it) && job.kind == Job::Kind::RawSlot &&
                !d.photo.isNull()) {
                Q_EMIT slotCompleted(*it, d.photo);
            } else if (it != slotOfKey_.cend() && slotPending(*it)) {
                const int slot = *it;
                slotPending_[static_cast<std::size_t>(slot - 1)] = false;
                const bool last = landed();
                const std::uint64_t generation = generation_;
                Q_EMIT slotReady(slot, d.photo);
                // Unless the receiver started another set meanwhile.
                if (last && generation == generation_)
                    prepareNext();
            }
        } else if (job.generation == generation_) {
            const bool last = landed();
            const std::uint64_t generation = generation_;
            Q_EMIT previewReady(job.index, d.photo);
            if (last && generation == generation_)
                prepareNext();
        }
    }
}

} // namespace qr
