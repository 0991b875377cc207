#include "player/PlayerEngine.h"

#include "platform/LogCategories.h"
#include "player/PlayerDisplay.h"
#include "player/QtRenderTimer.h"
#include "player/SetPreparer.h"

#include <QMetaObject>
#include <QThread>

#include <algorithm>

namespace qr {

namespace {

constexpr std::int64_t kNsPerSecond = 1'000'000'000;
// Slots handed to the pool ahead of the side previews; the rest follow them.
constexpr int kUrgentSlots = 3;

bool isFilePhoto(const QString& ext)
{
    return ext == QLatin1String("jpg") || ext == QLatin1String("heic");
}

// A raw frame that gave nothing, or a JPEG or HEIC photo that gave no display copy when one was asked
// for (its slot keeps the file reference).
bool failedToPrepare(QSize box, const PhotoImage& photo)
{
    return photo.isNull() || (box.isValid() && !box.isEmpty() && photo.displayImage().isNull());
}

} // namespace

PlayerEngine::PlayerEngine(PlayerDisplay* display, std::unique_ptr<RenderTimer> timer, QObject* parent)
    : QObject(parent), display_(display), timer_(std::move(timer))
{
    if (!timer_)
        timer_ = std::make_unique<QtRenderTimer>();
    timer_->setCallback([this] { renderTimerFired(); });
    pool_.setMaxThreadCount(std::max(1, QThread::idealThreadCount()));
    // Idle pool threads end soon, and with them their frame-sized scratch buffers.
    pool_.setExpiryTimeout(2000);
}

PlayerEngine::~PlayerEngine()
{
    timer_->stop();
    // A pass still running ends at its next file or copy piece, so the wait below is short.
    if (passStop_)
        passStop_->store(true);
    {
        const std::lock_guard lock(mailbox_);
        jobs_.clear();
        pass_.reset();
    }
    pool_.clear();
    pool_.waitForDone();
    const std::lock_guard lock(mailbox_);
}

// Pool side ---------------------------------------------------------------------------------------

void PlayerEngine::runOne()
{
    std::optional<Pass> pass;
    std::optional<Job> job;
    {
        const std::lock_guard lock(mailbox_);
        if (pass_) {
            pass = std::move(pass_);
            pass_.reset();
        } else if (!jobs_.empty()) {
            job = std::move(jobs_.front());
            jobs_.pop_front();
        }
    }
    if (pass) {
        PassDone done{pass->generation, Playlist::generatePlaylist(std::move(pass->request))};
        const std::lock_guard lock(mailbox_);
        passesDone_.push_back(std::move(done));
    } else if (job) {
        PhotoImage photo;
        switch (job->kind) {
        case Job::Kind::RawSlot:
            photo = SetPreparer::prepareRawFrame(job->path, job->size, job->box);
            break;
        case Job::Kind::FileSlot:
        case Job::Kind::FilePreview:
            photo = SetPreparer::preparePhoto(job->path, job->box);
            break;
        case Job::Kind::RawPreview:
            photo = SetPreparer::prepareRawPreview(job->path, job->size, job->box);
            break;
        }
        const std::lock_guard lock(mailbox_);
        done_.push_back({std::move(*job), std::move(photo)});
    } else {
        return; // the work was dropped by a later set start
    }
    QMetaObject::invokeMethod(this, "drainResults", Qt::QueuedConnection);
    // Orders this worker's last use of the engine before the engine's destruction through a lock
    // the project owns (the pool's own wait is invisible to a race checker).
    const std::lock_guard lock(mailbox_);
}

void PlayerEngine::waitForPool()
{
    pool_.waitForDone();
}

void PlayerEngine::dropQueuedJobs()
{
    std::deque<Job> dropped;
    {
        const std::lock_guard lock(mailbox_);
        dropped.swap(jobs_);
    }
    for (const Job& job : dropped)
        leaveFlight(job);
}

void PlayerEngine::leaveFlight(const Job& job)
{
    if (job.kind != Job::Kind::RawSlot && job.kind != Job::Kind::FileSlot)
        return;
    const auto it = inFlight_.find(job.path);
    if (it != inFlight_.end() && --*it <= 0)
        inFlight_.erase(it);
}

void PlayerEngine::enqueue(std::vector<Job> jobs)
{
    for (const Job& job : jobs) {
        if (job.kind == Job::Kind::RawSlot || job.kind == Job::Kind::FileSlot)
            ++inFlight_[job.path];
    }
    {
        const std::lock_guard lock(mailbox_);
        for (Job& job : jobs)
            jobs_.push_back(std::move(job));
    }
    for (std::size_t i = 0; i < jobs.size(); ++i)
        pool_.start(&runner_);
}

void PlayerEngine::drainResults()
{
    std::vector<Done> done;
    std::vector<PassDone> passes;
    {
        const std::lock_guard lock(mailbox_);
        done.swap(done_);
        passes.swap(passesDone_);
    }
    for (const PassDone& pass : passes) {
        if (pass.generation != passGeneration_)
            continue;
        passRunning_ = false;
        if (pass.result.stopped) {
            Q_EMIT playlistPassEnded(PassEnd::Stopped, QString());
            continue;
        }
        takePlaylist(pass.result);
        Q_EMIT playlistPassEnded(pass.result.setIndexes.isEmpty() ? PassEnd::NothingPlayable
                                                                  : PassEnd::Played,
                                 pass.result.rejection);
    }
    jobsDone_ += static_cast<int>(done.size());
    for (const Done& d : done) {
        const Job& job = d.job;
        if (failedToPrepare(job.box, d.photo)) {
            if (job.kind == Job::Kind::RawSlot || job.kind == Job::Kind::RawPreview)
                qCDebug(lcPlayer).noquote() << job.path << "not prepared: unreadable or shorter than"
                                            << job.size.width << "x" << job.size.height << "x 3 bytes";
            else
                qCDebug(lcPlayer).noquote() << job.path << "not prepared: does not decode";
        }
        bool landed = false;
        if (job.kind == Job::Kind::RawSlot || job.kind == Job::Kind::FileSlot) {
            leaveFlight(job);
            if (job.kind == Job::Kind::RawSlot || !d.photo.displayImage().isNull())
                cache_.insert(job.path, job.box, job.stamp, d.photo);
            // Whichever set start asked for it: a photo lands in the slot of the set playing now that
            // waits for this file (a set start does not ask again for work still under way).
            const auto slot = slotOfPath_.constFind(job.path);
            if (slot != slotOfPath_.cend() && slotPending_[static_cast<std::size_t>(*slot - 1)] &&
                job.box == slotBox_) {
                Job here = job;
                here.index = *slot;
                landSlot(here, d.photo);
                landed = true;
            }
        } else if (job.generation == generation_) {
            landPreview(job, d.photo);
            landed = true;
        }
        if (landed && pending_ > 0 && --pending_ == 0) {
            Q_EMIT preparationFinished();
            prefetchNextSet();
        }
    }
}

// Playlist --------------------------------------------------------------------------------------

bool PlayerEngine::stopPlaylistPass()
{
    if (!passRunning_ || !passStop_)
        return false;
    passStop_->store(true);
    return true;
}

void PlayerEngine::deliverProgress()
{
    std::optional<PlaylistProgress> progress;
    {
        const std::lock_guard lock(progressLock_);
        if (progressGeneration_ == passGeneration_)
            progress.swap(progress_);
        progress_.reset();
    }
    if (progress && passRunning_)
        Q_EMIT playlistProgress(*progress);
}

void PlayerEngine::generatePlaylistButtonAction()
{
    // Playback of the old playlist ends here: its timer, its pending preparations and its sets.
    timer_->stop();
    ++generation_;
    pending_ = 0;
    slotPending_.fill(false);
    slotOfPath_.clear();
    for (int view = 1; view <= 3; ++view)
        display_->showImage(view, PhotoImage());
    for (auto& list : s_._listOfFilesForView)
        list.clear();
    for (auto& slot : s_._image)
        slot = PhotoImage();
    s_._sortedListv2.clear();
    s_._arrayOfSetIndexes.clear();
    s_._numOfSets = 0;

    Pass pass;
    pass.generation = ++passGeneration_;
    pass.request.downloadsDir = s_._pathToDownloadsDir;
    pass.request.typeFilter = s_._jpegHeicRgbAllSegMode;
    pass.request.fifoLifo = s_._fifoLifoSegMode;
    pass.request.kroxDecoder = kroxDecoder_;
    // A pass still running is abandoned; its result would be dropped anyway.
    if (passStop_)
        passStop_->store(true);
    passStop_ = std::make_shared<std::atomic<bool>>(false);
    pass.request.stop = passStop_;
    {
        const std::lock_guard lock(progressLock_);
        progress_.reset();
        progressGeneration_ = pass.generation;
    }
    // Runs on the pass's threads: keeps only the newest report and wakes the main thread once for
    // all reports that arrive before it looks.
    pass.request.progress = [this, generation = pass.generation](const PlaylistProgress& p) {
        bool wake = false;
        {
            const std::lock_guard lock(progressLock_);
            if (progressGeneration_ != generation)
                return;
            wake = !progress_.has_value();
            progress_ = p;
        }
        if (wake)
            QMetaObject::invokeMethod(this, "deliverProgress", Qt::QueuedConnection);
    };
    passRunning_ = true;
    dropQueuedJobs();
    {
        const std::lock_guard lock(mailbox_);
        pass_ = std::move(pass);
    }
    pool_.start(&runner_);
}

void PlayerEngine::takePlaylist(const PlaylistResult& result)
{
    s_._symbolicPath = result.symbolicPath;
    s_._sortedListv2 = result.sortedList;
    s_._arrayOfSetIndexes = result.setIndexes;
    if (!s_._sortedListv2.isEmpty())
        configScheduler(false);
    // After the set start's display step, which is queued as well.
    QMetaObject::invokeMethod(
        this, [this] { display_->playlistPassFinished(s_._image[0]); }, Qt::QueuedConnection);
    Q_EMIT playlistTaken();
}

// Set start -----------------------------------------------------------------------------------

void PlayerEngine::emptySlots(int count)
{
    for (int i = 0; i < count; ++i)
        s_._image[static_cast<std::size_t>(i)] = PhotoImage();
}

void PlayerEngine::configScheduler(bool laterSet)
{
    // Whatever an earlier set start still has queued or running can no longer land.
    ++generation_;
    pending_ = 0;
    slotPending_.fill(false);
    slotOfPath_.clear();
    dropQueuedJobs();
    for (auto& list : s_._listOfFilesForView)
        list.clear();
    emptySlots(PlayerState::kShownSlots);
    if (laterSet) {
        const std::uint64_t gen = generation_;
        QMetaObject::invokeMethod(
            this,
            [this, gen] {
                if (gen != generation_)
                    return;
                for (int view = 1; view <= 3; ++view)
                    display_->showImage(view, PhotoImage());
            },
            Qt::QueuedConnection);
    } else {
        s_._setNumRenderedInView1 = 1;
    }

    const std::int32_t k = s_._setNumRenderedInView1;
    s_._numOfSets = static_cast<std::int32_t>(s_._arrayOfSetIndexes.size() / 2);
    for (int view = 0; view < 3; ++view)
        s_._listOfFilesForView[static_cast<std::size_t>(view)] = setPhotos(k + view);

    const QStringList& current = s_._listOfFilesForView[0];
    if (current.isEmpty())
        return;
    const std::uint64_t gen = generation_;
    const QString ext = Playlist::extension(current.first());
    qCDebug(lcPlayer).noquote() << "set" << k << "of" << s_._numOfSets << "starts:" << current.size() << ext
                                << "photos";
    PhotoImage first;
    if (isFilePhoto(ext))
        first = PhotoImage::fromFile(s_._symbolicPath + QLatin1Char('/') + current.first());
    else if (ext != QLatin1String("rgb"))
        return;
    std::vector<Job> slots = ext == QLatin1String("rgb") ? prepRgbSet(s_._symbolicPath, current)
                                                         : prepJpegOrHeicSet(s_._symbolicPath, current);
    // The first slots go first, then the side previews, then the rest of the set.
    std::vector<Job> jobs;
    const std::size_t urgent = std::min<std::size_t>(slots.size(), kUrgentSlots);
    jobs.insert(jobs.end(), slots.begin(), slots.begin() + static_cast<std::ptrdiff_t>(urgent));
    for (int view = 2; view <= 3; ++view) {
        if (auto job = previewJob(view, s_._listOfFilesForView[static_cast<std::size_t>(view - 1)]))
            jobs.push_back(std::move(*job));
    }
    jobs.insert(jobs.end(), slots.begin() + static_cast<std::ptrdiff_t>(urgent), slots.end());
    // Pending: the slots waiting for a job of theirs (queued now or still running from before) and the
    // previews.
    pending_ = static_cast<int>(std::count(slotPending_.begin(), slotPending_.end(), true) + jobs.size() -
                                slots.size());
    const bool allCached = pending_ == 0;
    enqueue(std::move(jobs));
    if (allCached)
        prefetchNextSet();
    QMetaObject::invokeMethod(
        this,
        [this, gen, first] {
            if (gen == generation_)
                displayStep(first);
        },
        Qt::QueuedConnection);
    if (ext == QLatin1String("rgb") && !s_._image[0].isNull()) {
        // Slot 1 came from the cache: its zoom maximum follows the display step, as a prepared one would.
        const PhotoImage slot1 = s_._image[0];
        QMetaObject::invokeMethod(
            this,
            [this, gen, slot1] {
                if (gen == generation_)
                    updateZoomMaximum(slot1);
            },
            Qt::QueuedConnection);
    }
}

namespace {

QStringList slotPaths(const QString& folder, const QStringList& list)
{
    QStringList paths;
    const auto count = std::min<qsizetype>(list.size(), PlayerState::kShownSlots);
    for (qsizetype i = 0; i < count; ++i)
        paths.append(folder + QLatin1Char('/') + list.at(i));
    return paths;
}

} // namespace

std::vector<PlayerEngine::Job> PlayerEngine::prepRgbSet(const QString& folder, const QStringList& list)
{
    std::vector<Job> jobs;
    const QSize box = display_->preparedPixelSize(1);
    slotBox_ = box;
    const QStringList paths = slotPaths(folder, list);
    // Each frame is converted with the size recognised from its own byte count (an unrecognised count
    // keeps the size before it), so a set that mixes frame sizes still gives upright, unskewed frames.
    const std::vector<FrameSize> sizes =
        SetPreparer::recogniseSizes(paths, FrameSize{s_._imageCaptureWidth, s_._imageCaptureHeight});
    if (!sizes.empty()) {
        s_._imageCaptureWidth = sizes.back().width;
        s_._imageCaptureHeight = sizes.back().height;
    }
    for (qsizetype i = 0; i < paths.size(); ++i) {
        Job job;
        job.kind = Job::Kind::RawSlot;
        job.generation = generation_;
        job.index = static_cast<int>(i + 1);
        job.path = paths.at(i);
        job.size = sizes[static_cast<std::size_t>(i)];
        job.box = box;
        job.stamp = PhotoCache::stampOf(job.path);
        const bool landscape = RawFrame::staysLandscape(std::int64_t{job.size.width} * job.size.height * 4);
        const QSize expected =
            landscape ? QSize(job.size.width, job.size.height) : QSize(job.size.height, job.size.width);
        slotOfPath_.insert(job.path, job.index);
        const PhotoImage cached = cache_.find(job.path, box, job.stamp);
        if (!cached.isNull() && cached.size() == expected) {
            s_._image[static_cast<std::size_t>(i)] = cached;
            continue;
        }
        slotPending_[static_cast<std::size_t>(i)] = true;
        if (!inFlight_.contains(job.path))
            jobs.push_back(std::move(job));
    }
    return jobs;
}

std::vector<PlayerEngine::Job> PlayerEngine::prepJpegOrHeicSet(const QString& folder, const QStringList& list)
{
    // Each slot refers to its file at once; its display copy is decoded ahead.
    std::vector<Job> jobs;
    const QSize box = display_->preparedPixelSize(1);
    slotBox_ = box;
    const bool copies = box.isValid() && !box.isEmpty();
    const QStringList paths = slotPaths(folder, list);
    for (qsizetype i = 0; i < paths.size(); ++i) {
        Job job;
        job.kind = Job::Kind::FileSlot;
        job.generation = generation_;
        job.index = static_cast<int>(i + 1);
        job.path = paths.at(i);
        job.box = box;
        job.stamp = copies ? PhotoCache::stampOf(job.path) : PhotoCache::Stamp{};
        const PhotoImage cached = copies ? cache_.find(job.path, box, job.stamp) : PhotoImage();
        s_._image[static_cast<std::size_t>(i)] = cached.isNull() ? PhotoImage::fromFile(job.path) : cached;
        if (!copies || !cached.isNull())
            continue;
        slotOfPath_.insert(job.path, job.index);
        slotPending_[static_cast<std::size_t>(i)] = true;
        if (!inFlight_.contains(job.path))
            jobs.push_back(std::move(job));
    }
    return jobs;
}

QStringList PlayerEngine::setPhotos(std::int32_t pair) const
{
    const QList<std::int32_t>& indexes = s_._arrayOfSetIndexes;
    const QStringList& photos = s_._sortedListv2;
    QStringList list;
    if (pair < 1 || 2 * qsizetype{pair} > indexes.size())
        return list;
    const std::int32_t first = indexes.at(2 * pair - 2);
    const std::int32_t last = indexes.at(2 * pair - 1);
    if (first < 0 || first > last || last >= photos.size())
        return list;
    for (std::int32_t i = first; i <= last; ++i)
        list.append(photos.at(i));
    return list;
}

void PlayerEngine::prefetchNextSet()
{
    const std::int32_t current = s_._setNumRenderedInView1;
    const std::int32_t next = current < s_._numOfSets ? current + 1 : 1;
    if (next == current || s_._repeatSetEn)
        return;
    const QStringList list = setPhotos(next);
    if (list.isEmpty())
        return;
    const QString ext = Playlist::extension(list.first());
    const bool raw = ext == QLatin1String("rgb");
    if (!raw && !isFilePhoto(ext))
        return;
    const QSize box = display_->preparedPixelSize(1);
    if (!raw && (!box.isValid() || box.isEmpty()))
        return;
    const QStringList paths = slotPaths(s_._symbolicPath, list);
    const std::vector<FrameSize> sizes =
        raw ? SetPreparer::recogniseSizes(paths, FrameSize{s_._imageCaptureWidth, s_._imageCaptureHeight})
            : std::vector<FrameSize>(static_cast<std::size_t>(paths.size()));
    // What fits the cache's budget, in playing order.
    std::int64_t budget = std::int64_t{1024} << 20;
    std::vector<Job> jobs;
    for (qsizetype i = 0; i < paths.size(); ++i) {
        Job job;
        job.kind = raw ? Job::Kind::RawSlot : Job::Kind::FileSlot;
        job.generation = generation_;
        job.index = static_cast<int>(i + 1);
        job.path = paths.at(i);
        job.size = sizes[static_cast<std::size_t>(i)];
        job.box = box;
        job.stamp = PhotoCache::stampOf(job.path);
        job.prefetch = true;
        if (inFlight_.contains(job.path) || !cache_.find(job.path, box, job.stamp).isNull())
            continue;
        const std::int64_t copy = std::int64_t{std::max(box.width(), 0)} * std::max(box.height(), 0) * 4;
        budget -= raw ? std::int64_t{job.size.width} * job.size.height * 4 + copy : copy;
        if (budget < 0)
            break;
        jobs.push_back(std::move(job));
    }
    enqueue(std::move(jobs));
}

std::optional<PlayerEngine::Job> PlayerEngine::previewJob(int view, const QStringList& list)
{
    if (list.isEmpty())
        return std::nullopt;
    const QString ext = Playlist::extension(list.first());
    if (!isFilePhoto(ext) && ext != QLatin1String("rgb"))
        return std::nullopt;
    Job job;
    job.kind = ext == QLatin1String("rgb") ? Job::Kind::RawPreview : Job::Kind::FilePreview;
    job.generation = generation_;
    job.index = view;
    job.path = s_._symbolicPath + QLatin1Char('/') + list.first();
    job.size = FrameSize{s_._imageCaptureWidth, s_._imageCaptureHeight};
    job.box = display_->preparedPixelSize(view);
    return job;
}

void PlayerEngine::landSlot(const Job& job, const PhotoImage& image)
{
    slotPending_[static_cast<std::size_t>(job.index - 1)] = false;
    // A JPEG or HEIC slot keeps its file reference when no display copy could be made.
    if (!image.isNull() && (image.kind() == PhotoImage::Kind::Bitmap || !image.displayImage().isNull()))
        s_._image[static_cast<std::size_t>(job.index - 1)] = image;
    if (job.kind == Job::Kind::RawSlot && job.index == 1 && !image.isNull())
        updateZoomMaximum(image);
    if (job.index == 1 && slot1Deferred_ == job.generation) {
        slot1Deferred_ = 0;
        if (s_._view1RenderPid == 0)
            display_->showImage(1, s_._image[0]);
    }
    Q_EMIT slotPrepared(job.index);
}

void PlayerEngine::updateZoomMaximum(const PhotoImage& slot1)
{
    const float outWidth = display_->outWidth();
    if (outWidth > 0.0f)
        display_->setZoomSliderMaximum((static_cast<float>(slot1.width()) - outWidth) / outWidth);
}

void PlayerEngine::landPreview(const Job& job, const PhotoImage& image)
{
    if (!image.isNull())
        display_->showImage(job.index, image);
}

void PlayerEngine::displayStep(const PhotoImage& first)
{
    if (!first.isNull()) {
        // While slot 1's display copy is still being decoded, showing the photo would mean decoding
        // it on the main thread; it is shown when the copy lands (unless a tick came first).
        const PhotoImage& slot1 = s_._image[0];
        if (slot1.displayImage().isNull() && display_->preparedPixelSize(1).isValid() &&
            !display_->preparedPixelSize(1).isEmpty())
            slot1Deferred_ = generation_;
        else
            display_->showImage(1, slot1.isNull() ? first : slot1);
    }
    display_->recreateControllerBar();
    configRenderTimer();
    display_->maxOutTheSliderAndImage(first.isNull() ? PhotoImage() : s_._image[0]);
}

// Render timer ----------------------------------------------------------------------------------

void PlayerEngine::arm(ArmMode mode)
{
    const auto period = static_cast<std::int64_t>(static_cast<double>(s_._timerTimeInterval) *
                                                  static_cast<double>(kNsPerSecond));
    const std::int64_t now = timer_->nowNs();
    std::int64_t deadline = now + period;
    // A tick follows the previous deadline, so that the time a tick takes does not add up over a set;
    // after a stall of more than a period the schedule restarts from now rather than catching up.
    if (mode == ArmMode::Chained && deadlineNs_ + period >= now - period / 2)
        deadline = std::max(deadlineNs_ + period, now - period / 2);
    deadlineNs_ = deadline;
    timer_->armAt(deadline);
}

void PlayerEngine::configRenderTimer()
{
    s_._view1RenderPid = 0;
    timer_->stop();
    arm(ArmMode::FromNow);
}

bool PlayerEngine::renderTimerRunning() const
{
    return timer_->isArmed();
}

bool PlayerEngine::stopRenderTimer()
{
    const bool running = timer_->isArmed();
    timer_->stop();
    return running;
}

void PlayerEngine::armRenderTimer()
{
    timer_->stop();
    arm(ArmMode::FromNow);
}

std::int64_t PlayerEngine::nowNs() const
{
    return timer_->nowNs();
}

void PlayerEngine::renderTimerFired()
{
    timer_->stop();
    tickDueNs_ = deadlineNs_;
    const auto length = static_cast<std::int32_t>(s_._listOfFilesForView[0].size());
    if (s_._view1RenderPid == length) {
        s_._view1RenderPid = 0;
        if (!s_._repeatSetEn) {
            QMetaObject::invokeMethod(
                this,
                [this] {
                    display_->showImage(1, PhotoImage());
                    display_->setPhotoNumText(QString());
                    display_->setPlaybackSpeedText(QString());
                },
                Qt::QueuedConnection);
            s_._setNumRenderedInView1 =
                s_._setNumRenderedInView1 < s_._numOfSets ? s_._setNumRenderedInView1 + 1 : 1;
            moveToSet(s_._setNumRenderedInView1);
        }
    }
    const std::int32_t n = s_._view1RenderPid;
    s_._view1RenderPid = n + 1;
    if (n < static_cast<std::int32_t>(s_._listOfFilesForView[0].size())) {
        arm(ArmMode::Chained);
        renderRgbPhoto(n + 1);
    }
}

void PlayerEngine::moveToSet(std::int32_t setNumber)
{
    s_._setNumRenderedInView1 = setNumber;
    s_._transactionToTheNextSetWillOccur = true;
    s_._speedSliderDoubleValue = static_cast<float>(display_->speedSliderValue());
    display_->resetSliders();
    configScheduler(true);
}

void PlayerEngine::renderRgbPhoto(std::int32_t n)
{
    if (n >= 1 && n <= PlayerState::kShownSlots) {
        const auto i = static_cast<std::size_t>(n - 1);
        // A JPEG or HEIC photo whose display copy is still being decoded shows as empty, like a raw
        // frame still being converted: handing over the file would make the display decode the whole
        // photo on the main thread (about 50 ms for JPEG, up to a second for HEIC) and stall playback.
        display_->showImage(1, slotPending_[i] ? PhotoImage() : s_._image[i]);
    }
    display_->setPhotoNumText(QString::number(s_._view1RenderPid));
    display_->setPlaybackSpeedText(QString::number(s_._playbackSpeed));
}

// Transport -------------------------------------------------------------------------------------

void PlayerEngine::toContainerVCFromPbCtlrView(std::int32_t playbackNum)
{
    display_->hideFavouriteButtons();
    const bool wasRunning = timer_->isArmed();
    timer_->stop();
    const auto length = static_cast<std::int32_t>(s_._listOfFilesForView[0].size());
    std::int32_t& cursor = s_._view1RenderPid;
    switch (playbackNum) {
    case 1:
        if (!wasRunning)
            arm(ArmMode::FromNow);
        break;
    case 2:
        if (cursor < length) {
            ++cursor;
            renderRgbPhoto(cursor);
        }
        break;
    case 3:
        if (cursor >= 2) {
            --cursor;
            renderRgbPhoto(cursor);
        }
        break;
    case 4:
        cursor = length;
        renderRgbPhoto(cursor);
        break;
    case 5:
        cursor = 1;
        renderRgbPhoto(cursor);
        break;
    case 6:
    case 7: {
        const bool next = playbackNum == 6;
        if (next ? s_._setNumRenderedInView1 < s_._numOfSets : s_._setNumRenderedInView1 >= 2) {
            display_->showImage(1, PhotoImage());
            display_->setPhotoNumText(QString());
            display_->setPlaybackSpeedText(QString());
            moveToSet(s_._setNumRenderedInView1 + (next ? 1 : -1));
        }
        break;
    }
    default:
        break;
    }
    if (display_->toolsPanelShown() && wasRunning && playbackNum <= 5)
        display_->showFavouriteButtons();
}

void PlayerEngine::menuToggleRepeatSet(bool mediaPlayerModeEn)
{
    if (!mediaPlayerModeEn)
        return;
    s_._repeatSetEn = !s_._repeatSetEn;
    display_->setRepeatLabelColour(s_._repeatSetEn);
}

} // namespace qr
