#pragma once

#include "player/PhotoImage.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <array>
#include <cstdint>

namespace qr {

// The media player's state, grouped as the main controller keeps it. Families numbered from 1 are
// arrays indexed from 0: `_image[0]` is `_image1`, `_listOfFilesForView[0]` is `_listOfFilesForView1`.
// Main thread only; workers get copies of what they need.
struct PlayerState {
    static constexpr int kShownSlots = 45; // photos of a set that get a frame slot
    static constexpr int kSlots = 60;      // slots emptied by a new playlist

    // Playlist.
    QString _pathToDownloadsDir;
    QString _symbolicPath;                   // scan root
    std::int32_t _jpegHeicRgbAllSegMode = 3; // 0 JPEG, 1 HEIC, 2 RGB, 3 all
    std::int32_t _fifoLifoSegMode = 1;       // 0 FIFO, 1 LIFO
    QStringList _sortedListv2;
    QList<std::int32_t> _arrayOfSetIndexes;

    // Sets and slots.
    std::array<QStringList, 3> _listOfFilesForView;
    std::array<PhotoImage, kSlots> _image;
    std::int32_t _setNumRenderedInView1 = 0;
    std::int32_t _numOfSets = 0;
    std::int32_t _view1RenderPid = 0; // render cursor: photo shown last, 1-based; 0 before a set's first tick

    // The raw frame size in force, recognised from the last frame of a raw set.
    std::int32_t _imageCaptureWidth = 0;
    std::int32_t _imageCaptureHeight = 0;

    // Speed (written by the speed slider, read at every arming).
    float _timerTimeInterval = 1.0f;
    std::int32_t _playbackSpeed = 1;
    bool _transactionToTheNextSetWillOccur = false;
    float _speedSliderDoubleValue = 0.0f;

    // Transport.
    bool _repeatSetEn = false;
};

} // namespace qr
