#include "Commands.h"

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
    for (ICommandTarget* t : Chain) {
        if (!t) continue;
        TCommandEnabler ce(id);
        t->CommandEnable(ce);
        if (!ce.Handled) continue;
        return ce.Enabled && t->Command(id);
    }
    return false;
}
