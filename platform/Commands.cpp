#include "Commands.h"

#include "ModelessDialog.h"

TCommandEnabler TCommandRouter::State(int id) const {
    TCommandEnabler ce(id);
    for (ICommandTarget* t : Chain) {
        if (!t) continue;
        t->CommandEnable(ce);
        if (ce.Handled) break;
    }
    return ce;
}

bool TCommandRouter::Execute(int id) const {
    // A long operation is handling events: its owner is disabled, but shortcuts and timers
    // could still reach here, and a second command would work on a layer the first still reads.
    if (TBusySection::Active()) return false;
    for (ICommandTarget* t : Chain) {
        if (!t) continue;
        TCommandEnabler ce(id);
        t->CommandEnable(ce);
        if (!ce.Handled) continue;
        return ce.Enabled && t->Command(id);
    }
    return false;
}
