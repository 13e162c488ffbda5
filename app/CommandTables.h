// The menus, accelerators and toolbars as data. The shell builds its Qt menus, shortcuts
// and tool bars from these tables; whether an item is enabled or checked is not recorded
// here but asked of the command chain each time (an id nobody handles is disabled).
#pragma once

#include <string>
#include <vector>

#include "CommandIds.h"

// One menu entry. Items non-empty: a pop-up whose title is Text. Id 0 with empty Text and
// no Items: a separator. Otherwise a command item; its Text may hold "\t" followed by the
// accelerator's text, and "&" marks the mnemonic.
struct TMenuDef {
    std::string Text;
    int Id = 0;
    std::vector<TMenuDef> Items;

    bool IsPopup() const { return !Items.empty(); }
    bool IsSeparator() const { return Id == 0 && Text.empty() && Items.empty(); }
};

// Menu resources.
enum : int {
    IDM_NODOC = 100, // the frame's menu while no document is open
    IDM_IMAGE = 200, // the menu of a document window (the view's menu merged in)
};

// True for the File menu's recent-file slots (CM_MRU_FIRST ..): the shell shows the paths
// there and hides the slots without one.
bool IsRecentFileSlot(int id);

// Menu 100 or 200; any other id gives an empty menu.
const TMenuDef& MenuResource(int id);

// Fills the plug-in pop-up ("Pl&ugins") of menu 200: pluginNames non-empty appends it after
// Effects with "&Last Filter\tCtrl+F", a separator and one item per plug-in (command
// CM_PLUGIN_FIRST + index); empty removes it. Call before the shell builds its menus.
void SetPluginMenu(const std::vector<std::string>& pluginNames);

// An accelerator: the command and its key in Qt's portable text ("Ctrl+Shift+<").
struct TAccelDef {
    int Id;
    std::string Key;
};
const std::vector<TAccelDef>& Accelerators();

enum class TDock { Top, Left, Bottom };

// A dockable tool bar; a button id of 0 is a separator. WindowId 0: none assigned.
struct TToolbarDef {
    std::string Caption;
    int WindowId;
    TDock Dock;
    std::vector<int> Buttons;
};
// Main, Effects and Tools (the colour palette bar is built separately).
const std::vector<TToolbarDef>& Toolbars();

// A short tooltip and status hint for a button or menu item ("" when none is known).
std::string CommandHint(int id);

// Menu text without "&" and without the accelerator part: "Save &As...\tF12" -> "Save As...".
std::string PlainMenuText(const std::string& text);

// The first command item with this id in the menu tree, or null.
const TMenuDef* FindMenuItem(const TMenuDef& menu, int id);
