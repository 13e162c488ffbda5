// The progress gauge of the status bar, as the code that reports progress sees it.
#pragma once

#include <vector>

class IProgressGauge {
public:
    virtual ~IProgressGauge() = default;
    // Shows a percentage, 0..100 (repainting is left to Repaint).
    virtual void SetValue(int percent) = 0;
    // Repaints the gauge at once, without waiting for the event loop.
    virtual void Repaint() = 0;
    virtual void Hide() = 0;
};

// Records every call, for tests.
class TProgressRecorder : public IProgressGauge {
public:
    enum class TKind { Value, Repaint, Hide };
    struct TEvent {
        TKind Kind;
        int Value; // the percentage for Value events, else -1
        bool operator==(const TEvent&) const = default;
    };

    void SetValue(int percent) override { Events.push_back({TKind::Value, percent}); }
    void Repaint() override { Events.push_back({TKind::Repaint, -1}); }
    void Hide() override { Events.push_back({TKind::Hide, -1}); }
    // Only the percentages shown, in order.
    std::vector<int> Values() const {
        std::vector<int> v;
        for (const TEvent& e : Events)
            if (e.Kind == TKind::Value) v.push_back(e.Value);
        return v;
    }

    std::vector<TEvent> Events;
};
