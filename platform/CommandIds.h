// The program's command ids, by name. Menus, accelerators, toolbars, icons, handlers and
// tests all take their numbers from here, so no number is written twice.
#pragma once

// Interaction modes and paint tools (Tools menu and toolbar).
enum : int {
    CM_MOVE_TOOL = 15251,
    CM_ZOOM_TOOL = 15252,
    CM_HAND_TOOL = 15253,
    CM_DEFORMATION = 15254,
    CM_RECT_SELECTION = 15260,
    CM_FREEHAND_SELECTION = 15261,
    CM_ELLIPSE_SELECTION = 15262,
    CM_SELECTION_RETOUCHER = 15263,
    CM_MAGIC_WAND = 15264,

    CM_LINE_TOOL = 15301,
    CM_RECTANGLE_TOOL = 15302,
    CM_ELLIPSE_TOOL = 15303,
    CM_BRUSH_TOOL = 15304,
    CM_SMUDGE_TOOL = 15305,
    CM_EYEDROPPER_TOOL = 15306,
    CM_CLONE_TOOL = 15307,
    CM_FILL_TOOL = 15308,
    CM_TEXT_TOOL = 15309,
    CM_HISTORY_BRUSH_TOOL = 15310,
    CM_AIRBRUSH_TOOL = 15311,
};

// Selection menu.
enum : int {
    CM_SELECT_WHOLE_LAYER = 15801,
    CM_SELECTION_EXPAND = 15802,
    CM_SELECTION_INVERT = 15803,
    CM_SELECTION_DESELECT = 15806,
    CM_SELECTION_REMOVE = 15807,
    CM_SELECTION_CLEAR = 15808,
    CM_SELECTION_TO_LAYER = 15821,
    CM_SELECTION_CUT_TO_LAYER = 15822,
};
