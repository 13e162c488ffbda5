// Copy, Cut and Paste of the Edit menu: one layer, or the selected part of one, between
// documents and to other programs. A copy offers two formats: the layer block of the native
// file, which carries the layer whole (pixels at full depth, alpha, shape, position, name),
// and a PNG picture at the depth the user sees for everyone else. Paste prefers the first.
#pragma once

#include <cstdint>
#include <vector>

#include "Commands.h"
#include "Toolkit.h"

class TImageView;
class TLayer;

class TClipboardCommands : public ICommandTarget {
public:
    explicit TClipboardCommands(TImageView& view) : view_(view) {}

    void CommandEnable(TCommandEnabler& ce) override { QueryCommand(ce); }
    bool Command(int id) override;
    void QueryCommand(TCommandEnabler& ce) const;

    // The picture other programs get for a layer: its rectangle with the background colour
    // where the layer has no pixels, at the depth the user sees, as PNG bytes.
    static L_INT Picture(const TLayer& layer, std::vector<uint8_t>& png);

private:
    void Copy();
    void Cut();
    void Paste();

    TImageView& view_;
};
