// The preview panel of the image open dialog: a scaled picture of the file under the cursor
// (its stored thumbnail when it has one) and its width, height, bits per pixel and size on
// disk. Moving through the list only restarts a short timer; the file is read when the
// cursor rests on it, so scrolling past files does not load each one.
#pragma once

#include <array>
#include <string>

#include "OwnedBitmap.h"
#include "WindowHost.h"

class TImageOpenPreview {
public:
    // The wait before the file under the cursor is read, and the timer's id.
    static constexpr int kDelayMs = 750;
    static constexpr int kTimerId = 120;
    // What an attribute shows when there is no picture.
    static constexpr const char* kNotAvailable = "n/a";

    // Whether the panel previews at all: on at start, kept for the run, never saved.
    static bool& Enabled();

    // area: the picture control's client size.
    explicit TImageOpenPreview(TSize area);

    // The file dialog reported a change (selection, folder, typed name). True when the
    // host should (re)start the timer.
    bool Notified() const { return Enabled(); }
    // The timer fired (the host stops it): update for the file now current.
    void TimerFired(const std::string& currentPath) { Update(currentPath); }
    // The "Preview" check box changed: sets the flag and updates at once. The host stops
    // a running timer when it is turned off.
    void SetEnabled(bool on, const std::string& currentPath);

    // Shows currentPath (empty: none). The same file as shown is not read again; a file that
    // failed is read again next time.
    void Update(const std::string& currentPath);

    // The picture, scaled into the area (null when none), and the four attribute texts.
    const BITMAPHANDLE* Picture() const {
        return picture_->Flags.Allocated ? picture_.get() : nullptr;
    }
    enum TAttribute { Width, Height, BitsPerPixel, FileSize };
    const std::string& Attribute(TAttribute a) const { return attributes_[a]; }
    const std::string& ShownPath() const { return path_; }
    // How many times a file was read (for tests of the deferral).
    int Loads = 0;

private:
    void Clear();

    TSize area_;
    TOwnedBitmap picture_;
    std::string path_;
    std::array<std::string, 4> attributes_;
};
