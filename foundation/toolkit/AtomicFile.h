// The atomic writer's pieces that only its tests need: the short hidden temporary names it
// uses where a file cannot be written without a name, and a switch to force that route on
// filesystems that do support nameless files.
#pragma once

#include <string_view>

namespace lt::atomic {

enum class TNamelessFiles { Allowed, Forbidden };
// Forbidden makes every write take the named-temporary route (for tests); Allowed is the
// default.
void SetNamelessFiles(TNamelessFiles use);

// True for a name the writer gives its temporaries: ".~q<pid>.<6 letters or digits>".
bool IsTemporaryName(std::string_view name);

} // namespace lt::atomic
