// Message boxes. The program asks its questions and reports its failures through
// IMessageBoxHost; the desktop shows real boxes, tests script the answers.
#pragma once

#include <deque>
#include <string>
#include <vector>

// RecoverDiscardLater answers Yes (recover), No (discard) or Cancel (ask again later).
enum class TMbButtons { Ok, YesNo, YesNoCancel, RecoverDiscardLater };
enum class TMbIcon { None, Exclamation, Stop, Question };
enum class TMbResult { Ok, Yes, No, Cancel };

class IMessageBoxHost {
public:
    virtual ~IMessageBoxHost() = default;
    virtual TMbResult Show(const std::string& text, const std::string& caption, TMbButtons buttons,
                           TMbIcon icon) = 0;
};

// The host every part of the program uses. Without one installed, boxes go to a
// headless host that answers OK/No, so nothing ever blocks or destroys data silently.
IMessageBoxHost& MessageBoxHost();
// Installs a host (null restores the default); returns the previous one.
IMessageBoxHost* SetMessageBoxHost(IMessageBoxHost* host);

// Scripted host for tests: answers from a queue and records every box.
class THeadlessMessageBoxes : public IMessageBoxHost {
public:
    struct TShown {
        std::string Text, Caption;
        TMbButtons Buttons;
        TMbIcon Icon;
        TMbResult Result;
    };

    TMbResult Show(const std::string& text, const std::string& caption, TMbButtons buttons,
                   TMbIcon icon) override;
    // The next answers, in order. With the queue empty a box answers OK, No to a Yes/No
    // question and Cancel when it offers one (Later to the recovery question): the choices
    // that never write nor delete anything.
    void QueueAnswer(TMbResult r) { answers_.push_back(r); }

    std::vector<TShown> Shown;

private:
    std::deque<TMbResult> answers_;
};
