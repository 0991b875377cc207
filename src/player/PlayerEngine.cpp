#include "player/PlayerEngine.h"

#include "decode/FrameBufferPool.h"
#include "platform/FileListing.h"
#include "platform/LogCategories.h"
#include "player/PhotoDecoder.h"
#include "player/PlayerDisplay.h"
#include "player/QtRenderTimer.h"
#include "player/SetPreparer.h"

#include <QMetaObject>
#include <QThreadPool>

#include <algorithm>

namespace qr {

namespace {

constexpr std::int64_t kNsPerSecond = 1'000'000'000;
// How long after its set start the first tick of a set may wait for prepared photos.
constexpr std::int64_t kPreRollFileNs = 500'000'000;
constexpr std::int64_t kPreRollRawNs = 1'000'000'000;

bool isFilePhoto(const QString& ext)
{
    return ext == QLatin1String("jpg") || ext == QLatin1String("heic");
}

QStringList slotPaths(const QString& folder, const QStringList& list)
{
    QStringList paths;
    const auto count = std::min<qsizetype>(list.size(), PlayerState::kShownSlots);
    for (qsizetype i = 0; i < count; ++i)
        paths.append(folder + QLatin1Char('/') + list.at(i));
    return paths;
}

} // namespace

PlayerEngine::PlayerEngine(PlayerDisplay* display, std::unique_ptr<RenderTimer> timer, QObject* parent)
    : QObject(parent), display_(display), timer_(std::move(timer))
{
    if (!timer_)
        timer_ = std::make_unique<QtRenderTimer>();
    timer_->setCallback([this] { renderTimerFired(); });
    connect(&pipeline_, &PreparationPipeline::slotReady, this, &PlayerEngine::landSlot);
    connect(&pipeline_, &PreparationPipeline::slotCompleted, this, &PlayerEngine::completeSlot);
    connect(&pipeline_, &PreparationPipeline::previewReady, this, [this](int view, const PhotoImage& photo) {
        if (!photo.isNull())
            display_->showImage(view, photo);
    });
    connect(&pipeline_, &PreparationPipeline::largerReady, this, &PlayerEngine::landLarger);
    connect(&pipeline_, &PreparationPipeline::diskCopyReady, this, &PlayerEngine::diskCopyMade);
    connect(&pipeline_, &PreparationPipeline::passFinished, this, [this](const PlaylistResult& result) {
        passRunning_ = false;
        if (result.stopped) {
            Q_EMIT playlistPassEnded(PassEnd::Stopped, result.stopReason);
            return;
        }
        takePlaylist(result);
        Q_EMIT playlistPassEnded(result.setIndexes.isEmpty() ? PassEnd::NothingPlayable : PassEnd::Played,
                                 result.rejection);
    });
}

PlayerEngine::~PlayerEngine()
{
    timer_->stop();
    // A pass still running ends at its next file or copy piece, so the pipeline's final wait is short.
    if (passStop_)
        passStop_->store(true);
    const std::lock_guard lock(progress_->lock);
    progress_->owner = nullptr;
}

// Playlist --------------------------------------------------------------------------------------

bool PlayerEngine::stopPlaylistPass()
{
    if (!passStop_)
        return false;
    // After the hand-over this stops the settling of the pass's frames in the background: those not
    // reached keep their `.rgb2` beside the `.rgb`, and the next pass decompresses them again.
    passStop_->store(true);
    return passRunning_;
}

void PlayerEngine::deliverProgress()
{
    std::optional<PlaylistProgress> progress;
    {
        const std::lock_guard lock(progress_->lock);
        if (progress_->generation == passGeneration_)
            progress.swap(progress_->progress);
        progress_->progress.reset();
    }
    if (progress && passRunning_)
        Q_EMIT playlistProgress(*progress);
}

void PlayerEngine::generatePlaylistButtonAction()
{
    // Playback of the old playlist ends here: its timer, its pending preparations and its sets.
    timer_->stop();
    waiting_ = false;
    ++generation_;
    pipeline_.clearSet();
    pipeline_.stopDiskCopies();
    copiesLeft_.clear();
    copiesMade_.clear();
    setsReady_ = 0;
    Q_EMIT setsReadyChanged(0, 0);
    for (int view = 1; view <= 3; ++view)
        display_->showImage(view, PhotoImage());
    for (auto& list : s_._listOfFilesForView)
        list.clear();
    for (auto& slot : s_._image)
        slot = PhotoImage();
    s_._sortedListv2.clear();
    s_._arrayOfSetIndexes.clear();
    s_._numOfSets = 0;

    PlaylistRequest request;
    request.downloadsDir = s_._pathToDownloadsDir;
    request.typeFilter = s_._jpegHeicRgbAllSegMode;
    request.fifoLifo = s_._fifoLifoSegMode;
    request.kroxDecoder = kroxDecoder_;
    request.unpackRecord = m_unpackRecord;
    // A pass still running is abandoned; its result would be dropped anyway.
    if (passStop_)
        passStop_->store(true);
    passStop_ = std::make_shared<std::atomic<bool>>(false);
    request.stop = passStop_;
    const std::uint64_t passGeneration = ++passGeneration_;
    {
        const std::lock_guard lock(progress_->lock);
        progress_->progress.reset();
        progress_->generation = passGeneration;
        progress_->owner = this;
    }
    // Runs on the pass's threads: keeps only the newest report and wakes the main thread once for
    // all reports that arrive before it looks.
    request.progress = [box = progress_, passGeneration](const PlaylistProgress& p) {
        const std::lock_guard lock(box->lock);
        if (box->generation != passGeneration || !box->owner)
            return;
        const bool wake = !box->progress.has_value();
        box->progress = p;
        if (wake)
            QMetaObject::invokeMethod(box->owner, "deliverProgress", Qt::QueuedConnection);
    };
    passRunning_ = true;
    pipeline_.startSet(generation_, {}, {}, {});
    pipeline_.runPass(std::move(request));
}

void PlayerEngine::takePlaylist(const PlaylistResult& result)
{
    s_._symbolicPath = result.symbolicPath;
    s_._sortedListv2 = result.sortedList;
    s_._arrayOfSetIndexes = result.setIndexes;
    countSetsToPrepare();
    if (!s_._sortedListv2.isEmpty())
        configScheduler(false);
    // After the set start's display step, which is queued as well.
    QMetaObject::invokeMethod(
        this, [this] { display_->playlistPassFinished(s_._image[0]); }, Qt::QueuedConnection);
}

// Sets prepared ahead ---------------------------------------------------------------------------

void PlayerEngine::countSetsToPrepare()
{
    const auto sets = static_cast<std::int32_t>(s_._arrayOfSetIndexes.size() / 2);
    copiesLeft_.assign(static_cast<std::size_t>(sets), 0);
    copiesMade_.clear();
    setsReady_ = 0;
    for (std::int32_t set = 1; set <= sets; ++set) {
        const QStringList list = setPhotos(set);
        if (disk_ && !list.isEmpty() && PhotoDecoder::isHeic(list.first()))
            copiesLeft_[static_cast<std::size_t>(set - 1)] = static_cast<int>(list.size());
        else
            ++setsReady_;
    }
    Q_EMIT setsReadyChanged(setsReady_, sets);
}

void PlayerEngine::prepareSetsAhead()
{
    const auto sets = static_cast<std::int32_t>(copiesLeft_.size());
    if (!disk_ || setsReady_ == sets)
        return;
    std::int64_t budget = disk_->budget() / 4 * 3;
    std::vector<Job> jobs;
    const std::int32_t from = std::clamp(s_._setNumRenderedInView1, 1, sets);
    for (std::int32_t i = 0; i < sets && budget > 0; ++i) {
        const std::int32_t set = (from - 1 + i) % sets + 1;
        if (copiesLeft_[static_cast<std::size_t>(set - 1)] == 0)
            continue;
        std::vector<Job> photos = slotJobs(setPhotos(set), false, nullptr);
        for (Job& job : photos) {
            if (!job.box.isValid() || job.box.isEmpty())
                return; // no display to size the copies for yet
            // The copy is fitted into its box: the box's bytes bound it.
            budget -= std::int64_t{job.box.width()} * job.box.height() * 4;
            if (budget < 0)
                break;
            if (copiesMade_.contains(job.path))
                continue;
            job.index = set;
            jobs.push_back(std::move(job));
        }
    }
    pipeline_.prepareDiskCopies(std::move(jobs));
}

void PlayerEngine::diskCopyMade(int set, const QString& path, bool ok)
{
    if (!ok || set < 1 || set > static_cast<int>(copiesLeft_.size()) || copiesMade_.contains(path))
        return;
    // A copy made for a playlist replaced since does not count: its set is not this one's.
    const QStringList photos = slotPaths(s_._symbolicPath, setPhotos(set));
    if (!photos.contains(path))
        return;
    copiesMade_.insert(path);
    int& left = copiesLeft_[static_cast<std::size_t>(set - 1)];
    if (left > 0 && --left == 0) {
        ++setsReady_;
        Q_EMIT setsReadyChanged(setsReady_, static_cast<int>(copiesLeft_.size()));
    }
}

// Set start -----------------------------------------------------------------------------------

void PlayerEngine::emptySlots(int count)
{
    for (int i = 0; i < count; ++i)
        s_._image[static_cast<std::size_t>(i)] = PhotoImage();
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

bool PlayerEngine::isFileSet(std::int32_t pair) const
{
    const QStringList list = setPhotos(pair);
    return !list.isEmpty() && isFilePhoto(FileListing::extension(list.first()));
}

void PlayerEngine::clearMainDisplayFor(std::int32_t pair)
{
    if (!isFileSet(pair))
        display_->showImage(1, PhotoImage());
}

std::vector<PlayerEngine::Job> PlayerEngine::slotJobs(const QStringList& list, bool raw,
                                                      std::vector<QSize>* expected)
{
    const QStringList paths = slotPaths(s_._symbolicPath, list);
    // JPEG and HEIC copies cover the display at the zoom the set's first photo gives it by default.
    QSize box = raw ? display_->rawCopyPixelSize() : display_->preparedPixelSize(1);
    if (!raw && box.isValid() && !box.isEmpty() && !paths.isEmpty())
        box = display_->mainCopyPixelSize(PhotoDecoder::naturalSize(paths.first()));
    std::vector<FrameSize> sizes(static_cast<std::size_t>(paths.size()));
    if (raw) {
        // Each frame is converted with the size recognised from its own byte count (an unrecognised
        // count keeps the size before it), so a set that mixes frame sizes still gives upright,
        // unskewed frames.
        sizes = SetPreparer::recogniseSizes(paths, FrameSize{s_._imageCaptureWidth, s_._imageCaptureHeight});
    }
    std::vector<Job> jobs;
    for (qsizetype i = 0; i < paths.size(); ++i) {
        const FrameSize size = sizes[static_cast<std::size_t>(i)];
        jobs.push_back(PreparationPipeline::makeJob(raw ? Job::Kind::RawSlot : Job::Kind::FileSlot,
                                                    static_cast<int>(i + 1), paths.at(i), box, size));
        if (expected) {
            const bool landscape = RawFrame::staysLandscape(std::int64_t{size.width} * size.height * 4);
            expected->push_back(
                raw ? (landscape ? QSize(size.width, size.height) : QSize(size.height, size.width))
                    : QSize());
        }
    }
    return jobs;
}

std::optional<PlayerEngine::Job> PlayerEngine::previewJob(int view, const QStringList& list)
{
    if (list.isEmpty())
        return std::nullopt;
    const QString ext = FileListing::extension(list.first());
    if (!isFilePhoto(ext) && ext != QLatin1String("rgb"))
        return std::nullopt;
    return PreparationPipeline::makeJob(
        ext == QLatin1String("rgb") ? Job::Kind::RawPreview : Job::Kind::FilePreview, view,
        s_._symbolicPath + QLatin1Char('/') + list.first(), display_->preparedPixelSize(view),
        FrameSize{s_._imageCaptureWidth, s_._imageCaptureHeight});
}

void PlayerEngine::configScheduler(bool laterSet)
{
    // Whatever an earlier set start still has queued can no longer land; its running work is adopted.
    ++generation_;
    awaitedSlot_ = 0;
    if (!largerHolder_.isNull()) {
        largerHolder_.setLargerImage(QImage());
        largerHolder_ = PhotoImage();
        pipeline_.cache().setReservedBytes(0);
    }
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
                clearMainDisplayFor(s_._setNumRenderedInView1);
                for (int view = 2; view <= 3; ++view)
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
    if (current.isEmpty()) {
        pipeline_.clearSet();
        return;
    }
    const std::uint64_t gen = generation_;
    const QString ext = FileListing::extension(current.first());
    qCDebug(lcPlayer).noquote() << "set" << k << "of" << s_._numOfSets << "starts:" << current.size() << ext
                                << "photos";
    PhotoImage first;
    if (isFilePhoto(ext))
        first = PhotoImage::fromFile(s_._symbolicPath + QLatin1Char('/') + current.first());
    else if (ext != QLatin1String("rgb")) {
        pipeline_.clearSet();
        return;
    }
    currentRaw_ = ext == QLatin1String("rgb");
    // The frame buffers kept for the next raw conversions are given back while photos play (off the
    // main thread: unmapping half a gigabyte takes tens of milliseconds).
    if (!currentRaw_ && FrameBufferPool::shared().idleCount() > 0)
        QThreadPool::globalInstance()->start([] { FrameBufferPool::shared().trim(); });
    setStartNs_ = timer_->nowNs();
    preRollDone_ = false;
    landedSinceStart_ = 0;

    std::vector<QSize> expected;
    const std::vector<Job> slots = slotJobs(current, currentRaw_, &expected);
    if (currentRaw_ && !slots.empty()) {
        s_._imageCaptureWidth = slots.back().size.width;
        s_._imageCaptureHeight = slots.back().size.height;
    }
    std::vector<Job> previews;
    for (int view = 2; view <= 3; ++view) {
        if (auto job = previewJob(view, s_._listOfFilesForView[static_cast<std::size_t>(view - 1)]))
            previews.push_back(std::move(*job));
    }
    // Once this set is prepared, the set that follows it is prepared ahead into the cache.
    std::vector<Job> next;
    const std::int32_t nextSet = k < s_._numOfSets ? k + 1 : 1;
    if (nextSet != k && !s_._repeatSetEn) {
        const QStringList list = setPhotos(nextSet);
        const QString nextExt = list.isEmpty() ? QString() : FileListing::extension(list.first());
        const QSize box = display_->preparedPixelSize(1);
        if (nextExt == QLatin1String("rgb") || (isFilePhoto(nextExt) && box.isValid() && !box.isEmpty()))
            next = slotJobs(list, nextExt == QLatin1String("rgb"), nullptr);
    }
    const std::vector<PhotoImage> found = pipeline_.startSet(gen, slots, previews, std::move(next), expected);
    for (std::size_t i = 0; i < slots.size(); ++i) {
        // A JPEG or HEIC slot refers to its file at once; its display copy follows.
        s_._image[i] = !found[i].isNull() || currentRaw_ ? found[i] : PhotoImage::fromFile(slots[i].path);
    }
    // A pause that lands before the display step (a set that ended on a tick, its successor not yet
    // shown) holds: the set is shown and stays paused.
    const std::uint64_t pausesBefore = pauses_;
    QMetaObject::invokeMethod(
        this,
        [this, gen, first, pausesBefore] {
            if (gen != generation_)
                return;
            displayStep(first);
            if (pauses_ != pausesBefore)
                stopRenderTimer();
        },
        Qt::QueuedConnection);
    if (currentRaw_ && !s_._image[0].isNull()) {
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

void PlayerEngine::landSlot(int slot, const PhotoImage& image)
{
    ++landedSinceStart_;
    // A JPEG or HEIC slot keeps its file reference when no display copy could be made.
    const auto i = static_cast<std::size_t>(slot - 1);
    if (!image.isNull() && (image.kind() == PhotoImage::Kind::Bitmap || !image.displayImage().isNull()))
        s_._image[i] = image;
    if (currentRaw_ && slot == 1 && !image.isNull())
        updateZoomMaximum(image);
    if (slot == 1 && slot1Deferred_ == generation_) {
        slot1Deferred_ = 0;
        if (s_._view1RenderPid == 0 && !waiting_)
            display_->showImage(1, s_._image[0]);
    }
    if (slot == awaitedSlot_) {
        awaitedSlot_ = 0;
        if (s_._view1RenderPid == slot)
            display_->showImage(1, s_._image[i]);
    }
    Q_EMIT slotPrepared(slot);
    if (waiting_)
        resumeWaitingTick();
}

void PlayerEngine::completeSlot(int slot, const PhotoImage& image)
{
    s_._image[static_cast<std::size_t>(slot - 1)] = image;
    // A paused display showing this photo may be zoomed past its copy: it paints from the frame now.
    if (!renderTimerRunning() && std::max(s_._view1RenderPid, 1) == slot)
        display_->showImage(1, image);
}

void PlayerEngine::prepareLargerCopy(const PhotoImage& photo, QSize box)
{
    if (photo.kind() != PhotoImage::Kind::Jpeg && photo.kind() != PhotoImage::Kind::Heic)
        return;
    if (!photo.largerImage().isNull() &&
        photo.largerImage().size() == PhotoDecoder::fittedSize(photo.size(), box))
        return;
    pipeline_.prepareLarger(photo.filePath(), box);
}

void PlayerEngine::prepareFullFrameFirst(int slot)
{
    const QStringList& list = s_._listOfFilesForView[0];
    if (!currentRaw_ || slot < 1 || slot > std::min<qsizetype>(list.size(), PlayerState::kShownSlots))
        return;
    pipeline_.prepareFrameFirst(s_._symbolicPath + QLatin1Char('/') + list.at(slot - 1));
}

void PlayerEngine::landLarger(const QString& path, QSize box, const QImage& image)
{
    Q_UNUSED(box);
    const std::int32_t shown = s_._view1RenderPid;
    bool onDisplay = false;
    PhotoImage holder;
    for (int i = 0; i < PlayerState::kShownSlots; ++i) {
        const PhotoImage& photo = s_._image[static_cast<std::size_t>(i)];
        if (!photo.isNull() && photo.filePath() == path) {
            photo.setLargerImage(image);
            onDisplay = onDisplay || i + 1 == std::max(shown, 1);
            if (holder.isNull())
                holder = photo;
        }
    }
    if (holder.isNull())
        return;
    // One larger copy at a time, counted in the cache's budget.
    if (!largerHolder_.isNull() && largerHolder_.filePath() != path)
        largerHolder_.setLargerImage(QImage());
    largerHolder_ = holder;
    pipeline_.cache().setReservedBytes(image.sizeInBytes());
    if (onDisplay)
        display_->showImage(1, s_._image[static_cast<std::size_t>(std::max(shown, 1) - 1)]);
}

void PlayerEngine::updateZoomMaximum(const PhotoImage& slot1)
{
    const float outWidth = display_->outWidth();
    if (outWidth > 0.0f)
        display_->setZoomSliderMaximum((static_cast<float>(slot1.width()) - outWidth) / outWidth);
}

void PlayerEngine::displayStep(const PhotoImage& first)
{
    if (!first.isNull()) {
        // While slot 1's display copy is still being decoded, showing the photo would mean decoding
        // it on the main thread; it is shown when the copy lands (the last photo stays until then).
        if (pipeline_.slotPending(1))
            slot1Deferred_ = generation_;
        else
            display_->showImage(1, s_._image[0].isNull() ? first : s_._image[0]);
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
    waiting_ = false;
    arm(ArmMode::FromNow);
}

bool PlayerEngine::renderTimerRunning() const
{
    return timer_->isArmed() || waiting_;
}

bool PlayerEngine::stopRenderTimer()
{
    const bool running = renderTimerRunning();
    timer_->stop();
    waiting_ = false;
    return running;
}

void PlayerEngine::armRenderTimer()
{
    timer_->stop();
    waiting_ = false;
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
    waiting_ = false;
    const auto length = static_cast<std::int32_t>(s_._listOfFilesForView[0].size());
    if (s_._view1RenderPid == length) {
        s_._view1RenderPid = 0;
        if (!s_._repeatSetEn) {
            const std::int32_t next =
                s_._setNumRenderedInView1 < s_._numOfSets ? s_._setNumRenderedInView1 + 1 : 1;
            QMetaObject::invokeMethod(
                this,
                [this] {
                    clearMainDisplayFor(s_._setNumRenderedInView1);
                    display_->setPhotoNumText(QString());
                    display_->setPlaybackSpeedText(QString());
                },
                Qt::QueuedConnection);
            moveToSet(next);
        }
    }
    advance();
}

void PlayerEngine::advance()
{
    const std::int32_t n = s_._view1RenderPid;
    if (n < static_cast<std::int32_t>(s_._listOfFilesForView[0].size()) && mustWait(n + 1)) {
        waiting_ = true;
        return;
    }
    s_._view1RenderPid = n + 1;
    if (n < static_cast<std::int32_t>(s_._listOfFilesForView[0].size())) {
        arm(ArmMode::Chained);
        renderRgbPhoto(n + 1);
    }
}

bool PlayerEngine::mustWait(std::int32_t photo)
{
    if (photo == 1 && !preRolled()) {
        // Looked at again as photos land; at the latest when the pre-roll ends.
        const std::int64_t limit = setStartNs_ + (currentRaw_ ? kPreRollRawNs : kPreRollFileNs);
        deadlineNs_ = std::max(deadlineNs_, limit);
        timer_->armAt(limit);
        return true;
    }
    // A JPEG or HEIC photo is shown, never an empty display: the tick waits for its copy.
    return !currentRaw_ && pipeline_.slotPending(photo);
}

bool PlayerEngine::preRolled()
{
    if (preRollDone_)
        return true;
    const std::int64_t now = timer_->nowNs();
    const std::int64_t elapsed = now - setStartNs_;
    const int count =
        std::min<int>(static_cast<int>(s_._listOfFilesForView[0].size()), PlayerState::kShownSlots);
    bool ready = elapsed >= (currentRaw_ ? kPreRollRawNs : kPreRollFileNs) || pipeline_.pendingSlots() == 0;
    if (!ready && !pipeline_.slotPending(1) && landedSinceStart_ > 0 && elapsed > 0) {
        // Starting now, photo i is due (i - 1) periods from now; at the pace photos have landed so
        // far, the r-th photo still waited for lands r / pace from now. Start when every one is in time.
        const double period = static_cast<double>(s_._timerTimeInterval) * kNsPerSecond;
        const double perPhoto = static_cast<double>(elapsed) / landedSinceStart_;
        ready = true;
        int rank = 0;
        for (int i = 1; i <= count && ready; ++i) {
            if (pipeline_.slotPending(i))
                ready = ++rank * perPhoto <= (i - 1) * period * 0.9;
        }
    }
    preRollDone_ = ready;
    return ready;
}

void PlayerEngine::resumeWaitingTick()
{
    const std::int32_t photo = s_._view1RenderPid + 1;
    if (photo == 1 && !preRolled())
        return;
    if (!currentRaw_ && pipeline_.slotPending(photo))
        return;
    timer_->stop();
    waiting_ = false;
    // The schedule goes on from now: a tick that waited makes the rest of the set later by the wait.
    deadlineNs_ = timer_->nowNs();
    if (photo == 1)
        tickDueNs_ = deadlineNs_; // the pre-roll moves the set's first tick
    advance();
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
        if (pipeline_.slotPending(n)) {
            // Shown when it lands, if still the current photo. Meanwhile a raw frame shows as empty,
            // and a JPEG or HEIC photo leaves the last photo on the display (handing over the file
            // would make the display decode it on the main thread).
            awaitedSlot_ = n;
            if (currentRaw_)
                display_->showImage(1, PhotoImage());
        } else {
            display_->showImage(1, s_._image[i]);
        }
    }
    display_->setPhotoNumText(QString::number(s_._view1RenderPid));
    display_->setPlaybackSpeedText(QString::number(s_._playbackSpeed));
}

// Transport -------------------------------------------------------------------------------------

void PlayerEngine::toContainerVCFromPbCtlrView(TransportCommand command)
{
    display_->hideFavouriteButtons();
    const bool wasRunning = stopRenderTimer();
    const auto length = static_cast<std::int32_t>(s_._listOfFilesForView[0].size());
    std::int32_t& cursor = s_._view1RenderPid;
    switch (command) {
    case TransportCommand::PlayPause:
        if (!wasRunning) {
            pipeline_.stopDiskCopies();
            arm(ArmMode::FromNow);
        } else {
            ++pauses_;
            prepareSetsAhead();
        }
        break;
    case TransportCommand::NextPhoto:
        if (cursor < length) {
            ++cursor;
            renderRgbPhoto(cursor);
        }
        break;
    case TransportCommand::PreviousPhoto:
        if (cursor >= 2) {
            --cursor;
            renderRgbPhoto(cursor);
        }
        break;
    case TransportCommand::LastPhoto:
        cursor = length;
        renderRgbPhoto(cursor);
        break;
    case TransportCommand::FirstPhoto:
        cursor = 1;
        renderRgbPhoto(cursor);
        break;
    case TransportCommand::NextSet:
    case TransportCommand::PreviousSet: {
        const bool next = command == TransportCommand::NextSet;
        if (next ? s_._setNumRenderedInView1 < s_._numOfSets : s_._setNumRenderedInView1 >= 2) {
            clearMainDisplayFor(s_._setNumRenderedInView1 + (next ? 1 : -1));
            display_->setPhotoNumText(QString());
            display_->setPlaybackSpeedText(QString());
            moveToSet(s_._setNumRenderedInView1 + (next ? 1 : -1));
        }
        break;
    }
    }
    if (display_->toolsPanelShown() && wasRunning && command != TransportCommand::NextSet &&
        command != TransportCommand::PreviousSet)
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
