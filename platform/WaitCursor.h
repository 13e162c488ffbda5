// The wait cursor shown while a long operation runs. Scoped: the cursor comes back when
// the outermost guard ends, also when the operation throws.
#pragma once

class TWaitCursor {
public:
    TWaitCursor();
    ~TWaitCursor();
    TWaitCursor(const TWaitCursor&) = delete;
    TWaitCursor& operator=(const TWaitCursor&) = delete;

    // How many guards are alive (the cursor shows while this is above 0).
    static int Depth();
    // Called with true when the first guard starts and false when the last one ends; the
    // desktop sets it to switch the real cursor.
    using THook = void (*)(bool busy);
    static void SetHook(THook hook);
};
