#include "CommandTables.h"

#include <algorithm>
#include <map>

#include "DocManager.h"

namespace {

const char* const kPluginsTitle = "Pl&ugins";
constexpr int kMaxPlugins = CM_PLUGIN_LAST - CM_PLUGIN_FIRST + 1;

using M = TMenuDef;

M Item(std::string text, int id) { return M{std::move(text), id, {}}; }
M Sep() { return M{}; }
M Popup(std::string title, std::vector<M> items) {
    return M{std::move(title), 0, std::move(items)};
}

// The recent files sit just above Exit; the shell shows the paths in these slots and hides
// the unused ones.
std::vector<M> RecentFileSlots() {
    std::vector<M> v;
    for (int i = 0; i < kRecentFileCount; ++i)
        v.push_back(Item("Recent File &" + std::to_string(i + 1), CM_MRU_FIRST + i));
    return v;
}

std::vector<M> Concat(std::vector<M> a, const std::vector<M>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// The View menu: the document's own view commands (head), then the bars.
M ViewPopup(std::vector<M> head) {
    // The bar toggles, in the order of their ids: main, effects, tools, palette, tool
    // options, layer list.
    return Popup("&View", Concat(std::move(head), {
                                                      Item("&Main Toolbar", CM_VIEW_MAINBAR),
                                                      Item("&Effects Toolbar", CM_VIEW_EFFECTSBAR),
                                                      Item("&Tools Toolbar", CM_VIEW_TOOLSBAR),
                                                      Item("&Color Palette", CM_VIEW_PALETTE),
                                                      Item("Tool &Options", CM_VIEW_TOOLOPTIONS),
                                                      Item("&Layers", CM_VIEW_LAYERLIST),
                                                  }));
}

M HelpPopup() {
    return Popup("&Help", {
                              Item("&Contents\tF1", CM_HELPCONTENTS),
                              Sep(),
                              Item("&About Quillo...", CM_HELPABOUT),
                          });
}

TMenuDef BuildNoDocMenu() {
    TMenuDef m;
    std::vector<M> file = {
        Item("New...\tCtrl+N", CM_FILENEW),
        Item("&Open...\tCtrl+O", CM_FILEOPEN),
        Sep(),
        Item("Acq&uire...", CM_ACQUIRE),
        Item("Se&lect Source...", CM_SELECTSOURCE),
        Sep(),
        Item("Pre&ferences...", CM_PREFERENCES),
        Sep(),
    };
    file = Concat(file, RecentFileSlots());
    file.push_back(Sep());
    file.push_back(Item("E&xit", CM_EXIT));
    m.Items = {Popup("&File", file), ViewPopup({}), HelpPopup()};
    return m;
}

TMenuDef BuildImageMenu() {
    TMenuDef m;
    std::vector<M> file = {
        Item("New...\tCtrl+N", CM_FILENEW),
        Item("&Open...\tCtrl+O", CM_FILEOPEN),
        Item("&Close", CM_FILECLOSE),
        Sep(),
        Item("&Save\tCtrl+S", CM_FILESAVE),
        Item("Save &As...", CM_FILESAVEAS),
        Item("R&evert To Saved...", CM_FILEREVERT),
        Sep(),
        Item("Acq&uire...", CM_ACQUIRE),
        Item("Se&lect Source...", CM_SELECTSOURCE),
        Sep(),
        Item("&Print...\tCtrl+P", CM_FILEPRINT),
        Item("Print Pre&view...", CM_FILEPRINTPREVIEW),
        Item("P&rint Setup...", CM_FILEPRINTERSETUP),
        Sep(),
        Item("Pre&ferences...", CM_PREFERENCES),
        Sep(),
    };
    file = Concat(file, RecentFileSlots());
    file.push_back(Sep());
    file.push_back(Item("E&xit", CM_EXIT));

    m.Items = {Popup("&File", file)};
    m.Items.push_back(Popup("&Edit", {
                                         Item("&Undo\tCtrl+Z", CM_EDITUNDO),
                                         Item("&Redo\tCtrl+Y", CM_EDITREDO),
                                         Sep(),
                                         Item("C&ut\tCtrl+X", CM_EDITCUT),
                                         Item("&Copy\tCtrl+C", CM_EDITCOPY),
                                         Item("&Paste\tCtrl+V", CM_EDITPASTE),
                                     }));
    m.Items.push_back(ViewPopup({
        Item("Zoom I&n\tNum Keypad +", CM_ZOOM_IN),
        Item("Zoom &Out\tNum Keypad -", CM_ZOOM_OUT),
        Item("Zoom To &Fit Window\tNum Keypad *", CM_ZOOM_FIT),
        Item("Zoom To Original &Size\tNum Keypad /", CM_ZOOM_ORIGINAL),
        Sep(),
        Item("Outline Of Active Layer", CM_OUTLINE_ACTIVE),
        Item("Outlines Of Inactive Layers", CM_OUTLINE_INACTIVE),
        Sep(),
    }));
    m.Items.push_back(Popup(
        "&Image",
        {
            Item("Re&size...", CM_IMAGE_RESIZE),
            Item("Resize Ca&nvas...", CM_IMAGE_RESIZE_CANVAS),
            Item("&Crop", CM_IMAGE_CROP),
            Sep(),
            Item("&Flip Horizontally", CM_IMAGE_FLIP_HORIZONTAL),
            Item("Flip &Vertically", CM_IMAGE_FLIP_VERTICAL),
            Sep(),
            Item("Color &Depth...", CM_IMAGE_COLOR_DEPTH),
            Item("Convert To &Grayscale", CM_IMAGE_GRAYSCALE),
            Popup("&Palette",
                  {
                      Item("&Edit Palette...", CM_PALETTE_EDIT),
                      Item("&Load Palette...", CM_PALETTE_LOAD),
                      Item("Sa&ve Palette...", CM_PALETTE_SAVE),
                  }),
            Sep(),
            Popup("Ad&just",
                  {
                      Item("&Hue/Saturation...\tCtrl+U", CM_ADJUST_HUE_SATURATION),
                      Item("&Brightness/Contrast...", CM_ADJUST_BRIGHTNESS_CONTRAST),
                      Item("Shar&pness...", CM_ADJUST_SHARPNESS),
                      Item("Ga&mma Correct...", CM_ADJUST_GAMMA),
                      Sep(),
                      Item("&RGB...", CM_ADJUST_RGB),
                      Item("&CMYK...", CM_ADJUST_CMYK),
                  }),
            Item("&Invert\tCtrl+I", CM_IMAGE_INVERT),
            Item("Auto &Equalize", CM_IMAGE_AUTO_EQUALIZE),
            Item("Auto C&ontrast\tShift+Ctrl+L", CM_IMAGE_AUTO_CONTRAST),
            // One-click corrections with fixed strengths, each one undo step.
            Popup("&Quick Corrections",
                  {
                      Item("Sunlight Less", CM_QUICK_SUNLIGHT_LESS),
                      Item("Sunlight More", CM_QUICK_SUNLIGHT_MORE),
                      Item("Fluorescent Light Less", CM_QUICK_FLUORESCENT_LESS),
                      Item("Fluorescent Light More", CM_QUICK_FLUORESCENT_MORE),
                      Sep(),
                      Item("Lighten Less", CM_QUICK_LIGHTEN_LESS),
                      Item("Lighten More", CM_QUICK_LIGHTEN_MORE),
                      Item("Darken Less", CM_QUICK_DARKEN_LESS),
                      Item("Darken More", CM_QUICK_DARKEN_MORE),
                      Sep(),
                      Item("Sharpen Less", CM_QUICK_SHARPEN_LESS),
                      Item("Sharpen More", CM_QUICK_SHARPEN_MORE),
                      Item("Reduce Noise Less", CM_QUICK_REDUCE_NOISE_LESS),
                      Item("Reduce Noise More", CM_QUICK_REDUCE_NOISE_MORE),
                      Sep(),
                      Item("Contrast Increase", CM_QUICK_CONTRAST_INCREASE),
                      Item("Contrast Decrease", CM_QUICK_CONTRAST_DECREASE),
                  }),
            Sep(),
            // Channel editing: one channel of every layer at a time, as a gray picture.
            Item("A&ggregated Editing Mode", CM_CHANNEL_AGGREGATED),
            Item("&Alpha Channel Editing Mode", CM_CHANNEL_ALPHA),
            Popup("Separated &Channels",
                  {
                      Popup("&RGB", {Item("&Red", CM_CHANNEL_RED), Item("&Green", CM_CHANNEL_GREEN),
                                     Item("&Blue", CM_CHANNEL_BLUE)}),
                      Popup("CMY&K", {Item("&Cyan", CM_CHANNEL_CMYK_CYAN),
                                      Item("&Magenta", CM_CHANNEL_CMYK_MAGENTA),
                                      Item("&Yellow", CM_CHANNEL_CMYK_YELLOW),
                                      Item("Blac&k", CM_CHANNEL_CMYK_BLACK)}),
                      Popup("&CMY", {Item("&Cyan", CM_CHANNEL_CMY_CYAN),
                                     Item("&Magenta", CM_CHANNEL_CMY_MAGENTA),
                                     Item("&Yellow", CM_CHANNEL_CMY_YELLOW)}),
                      Popup("&HSV", {Item("&Hue", CM_CHANNEL_HSV_HUE),
                                     Item("&Saturation", CM_CHANNEL_HSV_SATURATION),
                                     Item("&Value", CM_CHANNEL_HSV_VALUE)}),
                      Popup("H&LS", {Item("&Hue", CM_CHANNEL_HLS_HUE),
                                     Item("&Lightness", CM_CHANNEL_HLS_LIGHTNESS),
                                     Item("&Saturation", CM_CHANNEL_HLS_SATURATION)}),
                  }),
        }));
    m.Items.push_back(
        Popup("&Layer", {
                            Item("&New...\tShift+Ctrl+N", CM_LAYER_NEW),
                            Item("&Duplicate", CM_LAYER_DUPLICATE),
                            Item("&Remove\tCtrl+Del", CM_LAYER_REMOVE),
                            Sep(),
                            Item("Resi&ze...", CM_LAYER_RESIZE),
                            Item("Ro&tate...", CM_LAYER_ROTATE),
                            Sep(),
                            Item("Move &Up\tCtrl+Shift+>", CM_LAYER_MOVEUP),
                            Item("&Move Down\tCtrl+Shift+<", CM_LAYER_MOVEDOWN),
                            Item("Bring To &Front\tCtrl+Shift+]", CM_LAYER_BRINGTOFRONT),
                            Item("&Send To Back\tCtrl+Shift+[", CM_LAYER_SENDTOBACK),
                            Sep(),
                            Item("&Walk Up\tCtrl+>", CM_LAYER_WALKUP),
                            Item("Wal&k Down\tCtrl+<", CM_LAYER_WALKDOWN),
                            Sep(),
                            Item("Drop On &Lower Layer\tCtrl+E", CM_LAYER_DROPONLOWER),
                            Item("Drop On &Background", CM_LAYER_DROPONBACKGROUND),
                            Item("Merge &All Layers", CM_LAYER_MERGEALL),
                            Item("Merge &Visible Layers", CM_LAYER_MERGEVISIBLE),
                        }));
    m.Items.push_back(
        Popup("&Selection", {
                                Item("Select Whole L&ayer\tCtrl+A", CM_SELECT_WHOLE_LAYER),
                                Item("&Deselect\tCtrl+D", CM_SELECTION_DESELECT),
                                Item("&Invert\tShift+Ctrl+I", CM_SELECTION_INVERT),
                                Item("&Expand", CM_SELECTION_EXPAND),
                                Sep(),
                                Item("&Remove\tDel", CM_SELECTION_REMOVE),
                                Item("C&lear", CM_SELECTION_CLEAR),
                                Sep(),
                                Item("&Copy To Layer\tCtrl+J", CM_SELECTION_TO_LAYER),
                                Item("C&ut Out To Layer\tShift+Ctrl+J", CM_SELECTION_CUT_TO_LAYER),
                            }));
    m.Items.push_back(Popup("&Tools", {
                                          Item("&Move Tool\tShift+Esc", CM_MOVE_TOOL),
                                          Item("&Zoom Tool", CM_ZOOM_TOOL),
                                          Item("Hand Tool\tCtrl+Space", CM_HAND_TOOL),
                                          Sep(),
                                          Item("&Rectangular Selection", CM_RECT_SELECTION),
                                          Item("&Elliptic Selection", CM_ELLIPSE_SELECTION),
                                          Item("&Free Hand Selection", CM_FREEHAND_SELECTION),
                                          Item("Selection Reto&ucher", CM_SELECTION_RETOUCHER),
                                          Item("Magic &Wand", CM_MAGIC_WAND),
                                          Sep(),
                                          Item("&Line", CM_LINE_TOOL),
                                          Item("Re&ctangle", CM_RECTANGLE_TOOL),
                                          Item("Elli&pse", CM_ELLIPSE_TOOL),
                                          Item("F&ill", CM_FILL_TOOL),
                                          Item("&Brush", CM_BRUSH_TOOL),
                                          Item("&Airbrush", CM_AIRBRUSH_TOOL),
                                          Item("&History Brush", CM_HISTORY_BRUSH_TOOL),
                                          Item("&Smudge", CM_SMUDGE_TOOL),
                                          Item("Cl&one Brush", CM_CLONE_TOOL),
                                          Item("&Text", CM_TEXT_TOOL),
                                          Item("E&yedropper", CM_EYEDROPPER_TOOL),
                                      }));
    m.Items.push_back(Popup("Effe&cts", {
                                            Item("Red Eye Red&uction...", CM_EFFECT_RED_EYE),
                                            Item("Average Fil&ter...", CM_EFFECT_AVERAGE),
                                            Item("Media&n Filter...", CM_EFFECT_MEDIAN),
                                            Item("&Spatial Filter...", CM_EFFECT_SPATIAL_FILTER),
                                            Item("Add &Noise...", CM_EFFECT_ADD_NOISE),
                                            Sep(),
                                            Item("&Emboss...", CM_EFFECT_EMBOSS),
                                            Item("&Posterize...", CM_EFFECT_POSTERIZE),
                                            Item("&Mosaic...", CM_EFFECT_MOSAIC),
                                            Item("&Water Color...", CM_EFFECT_WATER_COLOR),
                                            Item("&Underlay...", CM_EFFECT_UNDERLAY),
                                            Item("&Diffuse Outline...", CM_EFFECT_DIFFUSE_OUTLINE),
                                        }));
    m.Items.push_back(Popup("&Window", {
                                           Item("&Cascade", CM_CASCADECHILDREN),
                                           Item("&Tile", CM_TILECHILDREN),
                                           Item("Arrange &Icons", CM_ARRANGEICONS),
                                           Item("C&lose All", CM_CLOSECHILDREN),
                                       }));
    m.Items.push_back(HelpPopup());
    return m;
}

TMenuDef& ImageMenu() {
    static TMenuDef m = BuildImageMenu();
    return m;
}

} // namespace

const TMenuDef& MenuResource(int id) {
    static const TMenuDef noDoc = BuildNoDocMenu();
    static const TMenuDef empty;
    if (id == IDM_NODOC) return noDoc;
    if (id == IDM_IMAGE) return ImageMenu();
    return empty;
}

void SetPluginMenu(const std::vector<std::string>& pluginNames) {
    std::vector<TMenuDef>& top = ImageMenu().Items;
    std::erase_if(top, [](const TMenuDef& m) { return m.Text == kPluginsTitle; });
    if (pluginNames.empty()) return;
    TMenuDef plugins = Popup(kPluginsTitle, {Item("&Last Filter\tCtrl+F", CM_LASTFILTER), Sep()});
    // Ids above the plug-in range belong to the program's own commands.
    const size_t count = std::min(pluginNames.size(), size_t(kMaxPlugins));
    for (size_t k = 0; k < count; ++k)
        plugins.Items.push_back(Item(pluginNames[k], CM_PLUGIN_FIRST + int(k)));
    // Filters belong next to the Effects menu.
    auto effects = std::find_if(top.begin(), top.end(),
                                [](const TMenuDef& m) { return m.Text == "Effe&cts"; });
    top.insert(effects == top.end() ? top.end() : effects + 1, std::move(plugins));
}

const std::vector<TAccelDef>& Accelerators() {
    // The keys the menus show. Walk Up/Down are shown as Ctrl+> and Ctrl+< after the glyphs
    // on those keys but bound to the unshifted keys: a shifted binding would be the same
    // keystroke as Move Up/Down's Ctrl+Shift+> and Ctrl+Shift+<.
    static const std::vector<TAccelDef> accels = {
        {CM_FILENEW, "Ctrl+N"},
        {CM_FILEOPEN, "Ctrl+O"},
        {CM_FILESAVE, "Ctrl+S"},
        {CM_FILEPRINT, "Ctrl+P"},
        {CM_EDITUNDO, "Ctrl+Z"},
        {CM_EDITREDO, "Ctrl+Y"},
        {CM_EDITCUT, "Ctrl+X"},
        {CM_EDITCOPY, "Ctrl+C"},
        {CM_EDITPASTE, "Ctrl+V"},
        {CM_EDITCOPY, "Ctrl+Ins"},
        {CM_EDITCUT, "Shift+Del"},
        {CM_EDITPASTE, "Shift+Ins"},
        {CM_ZOOM_IN, "Num++"},
        {CM_ZOOM_OUT, "Num+-"},
        {CM_ZOOM_FIT, "Num+*"},
        {CM_ZOOM_ORIGINAL, "Num+/"},
        {CM_ADJUST_HUE_SATURATION, "Ctrl+U"},
        {CM_IMAGE_INVERT, "Ctrl+I"},
        {CM_IMAGE_AUTO_CONTRAST, "Ctrl+Shift+L"},
        {CM_LAYER_NEW, "Ctrl+Shift+N"},
        {CM_LAYER_REMOVE, "Ctrl+Del"},
        {CM_LAYER_MOVEUP, "Ctrl+Shift+>"},
        {CM_LAYER_MOVEDOWN, "Ctrl+Shift+<"},
        {CM_LAYER_BRINGTOFRONT, "Ctrl+Shift+]"},
        {CM_LAYER_SENDTOBACK, "Ctrl+Shift+["},
        {CM_LAYER_WALKUP, "Ctrl+."},
        {CM_LAYER_WALKDOWN, "Ctrl+,"},
        {CM_LAYER_DROPONLOWER, "Ctrl+E"},
        {CM_SELECT_WHOLE_LAYER, "Ctrl+A"},
        {CM_SELECTION_DESELECT, "Ctrl+D"},
        {CM_SELECTION_INVERT, "Ctrl+Shift+I"},
        {CM_SELECTION_REMOVE, "Del"},
        {CM_SELECTION_TO_LAYER, "Ctrl+J"},
        {CM_SELECTION_CUT_TO_LAYER, "Ctrl+Shift+J"},
        {CM_MOVE_TOOL, "Shift+Esc"},
        {CM_HAND_TOOL, "Ctrl+Space"},
        {CM_LASTFILTER, "Ctrl+F"},
        {CM_HELPCONTENTS, "F1"},
    };
    return accels;
}

const std::vector<TToolbarDef>& Toolbars() {
    static const std::vector<TToolbarDef> bars = {
        {"Main",
         32041,
         TDock::Top,
         {CM_FILENEW, CM_FILEOPEN, CM_FILESAVE, CM_ACQUIRE, 0, CM_FILEPRINT, CM_FILEPRINTPREVIEW, 0,
          CM_EDITCOPY, CM_EDITPASTE, 0, CM_EDITUNDO, CM_EDITREDO}},
        {"Effects",
         32042,
         TDock::Top,
         {CM_IMAGE_RESIZE, CM_IMAGE_CROP, CM_IMAGE_FLIP_HORIZONTAL, CM_IMAGE_FLIP_VERTICAL, 0,
          CM_ADJUST_BRIGHTNESS_CONTRAST, CM_ADJUST_HUE_SATURATION, CM_ADJUST_RGB, CM_ADJUST_GAMMA,
          CM_ADJUST_SHARPNESS, CM_IMAGE_COLOR_DEPTH}},
        {"Tools", 0, TDock::Left, {CM_ZOOM_TOOL,          CM_MOVE_TOOL,
                                   CM_HAND_TOOL,          0,
                                   CM_RECT_SELECTION,     CM_ELLIPSE_SELECTION,
                                   CM_FREEHAND_SELECTION, CM_SELECTION_RETOUCHER,
                                   CM_MAGIC_WAND,         0,
                                   CM_LINE_TOOL,          CM_RECTANGLE_TOOL,
                                   CM_ELLIPSE_TOOL,       CM_FILL_TOOL,
                                   CM_BRUSH_TOOL,         CM_AIRBRUSH_TOOL,
                                   CM_HISTORY_BRUSH_TOOL, CM_SMUDGE_TOOL,
                                   CM_CLONE_TOOL,         CM_TEXT_TOOL,
                                   CM_EYEDROPPER_TOOL}},
    };
    return bars;
}

std::string CommandHint(int id) {
    static const std::map<int, std::string> hints = {
        {CM_FILENEW, "Creates a new image"},
        {CM_FILEOPEN, "Opens an image file"},
        {CM_FILESAVE, "Saves the active image"},
        {CM_FILESAVEAS, "Saves the active image under a new name or type"},
        {CM_FILEREVERT, "Reloads the active image from its file"},
        {CM_FILECLOSE, "Closes the active image"},
        {CM_FILEPRINT, "Prints the active image"},
        {CM_FILEPRINTPREVIEW, "Shows the printed page"},
        {CM_FILEPRINTERSETUP, "Chooses and sets up the printer"},
        {CM_EXIT, "Quits the program"},
        {CM_ACQUIRE, "Scans an image"},
        {CM_SELECTSOURCE, "Chooses the scanner"},
        {CM_PREFERENCES, "Changes the program's options"},
        {CM_EDITUNDO, "Undoes the last change"},
        {CM_EDITREDO, "Redoes the last undone change"},
        {CM_EDITCUT, "Moves the selection or the layer to the clipboard"},
        {CM_EDITCOPY, "Copies the selection or the layer to the clipboard"},
        {CM_EDITPASTE, "Pastes the clipboard as a new layer"},
        {CM_IMAGE_RESIZE, "Changes the size of the image"},
        {CM_IMAGE_RESIZE_CANVAS, "Changes the size of the canvas"},
        {CM_IMAGE_CROP, "Crops the image to the selection"},
        {CM_IMAGE_FLIP_HORIZONTAL, "Flips the layer horizontally"},
        {CM_IMAGE_FLIP_VERTICAL, "Flips the layer vertically"},
        {CM_ADJUST_BRIGHTNESS_CONTRAST, "Adjusts brightness and contrast"},
        {CM_ADJUST_HUE_SATURATION, "Adjusts hue and saturation"},
        {CM_ADJUST_RGB, "Adjusts the red, green and blue balance"},
        {CM_ADJUST_GAMMA, "Corrects the gamma"},
        {CM_ADJUST_SHARPNESS, "Blurs or sharpens the layer"},
        {CM_IMAGE_COLOR_DEPTH, "Changes the color depth"},
        // The tools' hints are also what the status line shows while a tool is chosen.
        {CM_MOVE_TOOL, "Moves the selection"},
        {CM_ZOOM_TOOL, "Zooms in and out on the current image"},
        {CM_HAND_TOOL, "Scrolls current view by a mouse"},
        {CM_DEFORMATION, "Selects deformation tool"},
        {CM_RECT_SELECTION, "Rectangular Selection mode"},
        {CM_FREEHAND_SELECTION, "Free Hand Selection mode"},
        {CM_ELLIPSE_SELECTION, "Elliptic Selection mode"},
        {CM_SELECTION_RETOUCHER, "Selection Retoucher mode"},
        {CM_MAGIC_WAND, "Magic Wand Selection mode"},
        {CM_LINE_TOOL, "Line drawing mode"},
        {CM_RECTANGLE_TOOL, "Rectangle drawing mode"},
        {CM_ELLIPSE_TOOL, "Ellipse drawing mode"},
        {CM_BRUSH_TOOL, "Brush drawing mode"},
        {CM_SMUDGE_TOOL, "Smudge drawing mode"},
        {CM_EYEDROPPER_TOOL, "Eyedropper mode"},
        {CM_CLONE_TOOL, "Clone Brush drawing mode"},
        {CM_FILL_TOOL, "Fill drawing mode"},
        {CM_TEXT_TOOL, "Text tool"},
        {CM_HISTORY_BRUSH_TOOL, "History Brush drawing mode"},
        {CM_AIRBRUSH_TOOL, "Airbrush drawing mode"},
        {CM_SELECT_WHOLE_LAYER, "Selects an entire layer"},
        {CM_VIEW_MAINBAR, "Shows or hides the main toolbar"},
        {CM_VIEW_EFFECTSBAR, "Shows or hides the effects toolbar"},
        {CM_VIEW_TOOLSBAR, "Shows or hides the tools toolbar"},
        {CM_VIEW_PALETTE, "Shows or hides the color palette"},
        {CM_VIEW_TOOLOPTIONS, "Shows or hides the tool options"},
        {CM_VIEW_LAYERLIST, "Shows or hides the layer list"},
        {CM_HELPCONTENTS, "Shows the help contents"},
        {CM_HELPABOUT, "Shows the program's version and copyright"},
    };
    if (auto it = hints.find(id); it != hints.end()) return it->second;
    // Everything else is described well enough by its menu text.
    for (int menu : {IDM_IMAGE, IDM_NODOC}) {
        if (const TMenuDef* item = FindMenuItem(MenuResource(menu), id);
            item && !IsRecentFileSlot(id)) {
            std::string text = PlainMenuText(item->Text);
            while (!text.empty() && text.back() == '.') text.pop_back();
            return text;
        }
    }
    return {};
}

std::string PlainMenuText(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '\t') break;
        if (c == '&') {
            if (i + 1 < text.size() && text[i + 1] == '&') out += '&', ++i;
            continue;
        }
        out += c;
    }
    return out;
}

const TMenuDef* FindMenuItem(const TMenuDef& menu, int id) {
    for (const TMenuDef& item : menu.Items) {
        if (item.IsPopup()) {
            if (const TMenuDef* found = FindMenuItem(item, id)) return found;
        } else if (item.Id == id && id != 0) {
            return &item;
        }
    }
    return nullptr;
}

bool IsRecentFileSlot(int id) { return id >= CM_MRU_FIRST && id < CM_MRU_FIRST + kRecentFileCount; }
