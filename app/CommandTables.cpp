#include "CommandTables.h"

#include <algorithm>
#include <map>

#include "DocManager.h"

namespace {

const char* const kPluginsTitle = "Pl&ugins";
constexpr int kMaxPlugins = 1000; // commands 14000 .. 14999; 15000 on are the program's own

// The View menu's bar toggles, in this order (the frame names them too).
enum : int {
    kViewMainBar = 15201,
    kViewEffectsBar,
    kViewToolsBar,
    kViewPalette,
    kViewToolOptions,
    kViewLayerList,
};

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
                                                      Item("&Main Toolbar", kViewMainBar),
                                                      Item("&Effects Toolbar", kViewEffectsBar),
                                                      Item("&Tools Toolbar", kViewToolsBar),
                                                      Item("&Color Palette", kViewPalette),
                                                      Item("Tool &Options", kViewToolOptions),
                                                      Item("&Layers", kViewLayerList),
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
        Item("Acq&uire...", 15001),
        Item("Se&lect Source...", 15002),
        Sep(),
        Item("Pre&ferences...", 15003),
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
        Item("Acq&uire...", 15001),
        Item("Se&lect Source...", 15002),
        Sep(),
        Item("&Print...\tCtrl+P", CM_FILEPRINT),
        Item("Print Pre&view...", CM_FILEPRINTPREVIEW),
        Item("P&rint Setup...", CM_FILEPRINTERSETUP),
        Sep(),
        Item("Pre&ferences...", 15003),
        Sep(),
    };
    file = Concat(file, RecentFileSlots());
    file.push_back(Sep());
    file.push_back(Item("E&xit", CM_EXIT));

    m.Items = {Popup("&File", file)};
    m.Items.push_back(Popup("&Edit", {
                                         Item("&Undo\tCtrl+Z", 24321),
                                         Item("&Redo\tCtrl+Y", 24329),
                                         Sep(),
                                         Item("C&ut\tCtrl+X", 24322),
                                         Item("&Copy\tCtrl+C", 24323),
                                         Item("&Paste\tCtrl+V", 24324),
                                     }));
    m.Items.push_back(ViewPopup({
        Item("Zoom I&n\tNum Keypad +", 15222),
        Item("Zoom &Out\tNum Keypad -", 15221),
        Item("Zoom To &Fit Window\tNum Keypad *", 15224),
        Item("Zoom To Original &Size\tNum Keypad /", 15223),
        Sep(),
        Item("Outline Of Active Layer", 15211),
        Item("Outlines Of Inactive Layers", 15212),
        Sep(),
    }));
    m.Items.push_back(Popup(
        "&Image", {
                      Item("Re&size...", 15501),
                      Item("Resize Ca&nvas...", 15502),
                      Item("&Crop", 15601),
                      Sep(),
                      Item("&Flip Horizontally", 15602),
                      Item("Flip &Vertically", 15603),
                      Sep(),
                      Item("Color &Depth...", 15504),
                      Item("Convert To &Grayscale", 15505),
                      Popup("&Palette",
                            {
                                Item("&Edit Palette...", 15541),
                                Item("&Load Palette...", 15543),
                                Item("Sa&ve Palette...", 15542),
                            }),
                      Sep(),
                      Popup("Ad&just",
                            {
                                Item("&Hue/Saturation...\tCtrl+U", 15608),
                                Item("&Brightness/Contrast...", 15607),
                                Item("Shar&pness...", 15609),
                                Item("Ga&mma Correct...", 15611),
                                Sep(),
                                Item("&RGB...", 15521),
                                Item("&CMYK...", 15522),
                            }),
                      Item("&Invert\tCtrl+I", 15604),
                      Item("Auto &Equalize", 15606),
                      Item("Auto C&ontrast\tShift+Ctrl+L", 15605),
                      // One-click corrections with fixed strengths, each one undo step.
                      Popup("&Quick Corrections",
                            {
                                Item("Sunlight Less", 15751),
                                Item("Sunlight More", 15752),
                                Item("Fluorescent Light Less", 15753),
                                Item("Fluorescent Light More", 15754),
                                Sep(),
                                Item("Lighten Less", 15755),
                                Item("Lighten More", 15756),
                                Item("Darken Less", 15757),
                                Item("Darken More", 15758),
                                Sep(),
                                Item("Sharpen Less", 15759),
                                Item("Sharpen More", 15760),
                                Item("Reduce Noise Less", 15761),
                                Item("Reduce Noise More", 15762),
                                Sep(),
                                Item("Contrast Increase", 15763),
                                Item("Contrast Decrease", 15764),
                            }),
                      Sep(),
                      // Channel editing: one channel of every layer at a time, as a gray picture.
                      Item("A&ggregated Editing Mode", 15271),
                      Item("&Alpha Channel Editing Mode", 15272),
                      Popup("Separated &Channels",
                            {
                                Popup("&RGB", {Item("&Red", 15275), Item("&Green", 15276),
                                               Item("&Blue", 15277)}),
                                Popup("CMY&K", {Item("&Cyan", 15279), Item("&Magenta", 15280),
                                                Item("&Yellow", 15281), Item("Blac&k", 15282)}),
                                Popup("&CMY", {Item("&Cyan", 15284), Item("&Magenta", 15285),
                                               Item("&Yellow", 15286)}),
                                Popup("&HSV", {Item("&Hue", 15288), Item("&Saturation", 15289),
                                               Item("&Value", 15290)}),
                                Popup("H&LS", {Item("&Hue", 15292), Item("&Lightness", 15293),
                                               Item("&Saturation", 15294)}),
                            }),
                  }));
    m.Items.push_back(Popup("&Layer", {
                                          Item("&New...\tShift+Ctrl+N", 15851),
                                          Item("&Duplicate", 15875),
                                          Item("&Remove\tCtrl+Del", 15856),
                                          Sep(),
                                          Item("Resi&ze...", 15562),
                                          Item("Ro&tate...", 15561),
                                          Sep(),
                                          Item("Move &Up\tCtrl+Shift+>", 15871),
                                          Item("&Move Down\tCtrl+Shift+<", 15872),
                                          Item("Bring To &Front\tCtrl+Shift+]", 15874),
                                          Item("&Send To Back\tCtrl+Shift+[", 15873),
                                          Sep(),
                                          Item("&Walk Up\tCtrl+>", 15876),
                                          Item("Wal&k Down\tCtrl+<", 15877),
                                          Sep(),
                                          Item("Drop On &Lower Layer\tCtrl+E", 15852),
                                          Item("Drop On &Background", 15853),
                                          Item("Merge &All Layers", 15854),
                                          Item("Merge &Visible Layers", 15855),
                                      }));
    m.Items.push_back(Popup("&Selection", {
                                              Item("Select Whole L&ayer\tCtrl+A", 15801),
                                              Item("&Deselect\tCtrl+D", 15806),
                                              Item("&Invert\tShift+Ctrl+I", 15803),
                                              Item("&Expand", 15802),
                                              Sep(),
                                              Item("&Remove\tDel", 15807),
                                              Item("C&lear", 15808),
                                              Sep(),
                                              Item("&Copy To Layer\tCtrl+J", 15821),
                                              Item("C&ut Out To Layer\tShift+Ctrl+J", 15822),
                                          }));
    m.Items.push_back(Popup("&Tools", {
                                          Item("&Move Tool\tShift+Esc", 15251),
                                          Item("&Zoom Tool", 15252),
                                          Item("Hand Tool\tCtrl+Space", 15253),
                                          Sep(),
                                          Item("&Rectangular Selection", 15260),
                                          Item("&Elliptic Selection", 15262),
                                          Item("&Free Hand Selection", 15261),
                                          Item("Selection Reto&ucher", 15263),
                                          Item("Magic &Wand", 15264),
                                          Sep(),
                                          Item("&Line", 15301),
                                          Item("Re&ctangle", 15302),
                                          Item("Elli&pse", 15303),
                                          Item("F&ill", 15308),
                                          Item("&Brush", 15304),
                                          Item("&Airbrush", 15311),
                                          Item("&History Brush", 15310),
                                          Item("&Smudge", 15305),
                                          Item("Cl&one Brush", 15307),
                                          Item("&Text", 15309),
                                          Item("E&yedropper", 15306),
                                      }));
    m.Items.push_back(Popup("Effe&cts", {
                                            Item("Red Eye Red&uction...", 15610),
                                            Item("Average Fil&ter...", 15612),
                                            Item("Media&n Filter...", 15613),
                                            Item("&Spatial Filter...", 15707),
                                            Item("Add &Noise...", 15704),
                                            Sep(),
                                            Item("&Emboss...", 15703),
                                            Item("&Posterize...", 15705),
                                            Item("&Mosaic...", 15706),
                                            Item("&Water Color...", 15702),
                                            Item("&Underlay...", 15701),
                                            Item("&Diffuse Outline...", 15708),
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
        {CM_FILENEW, "Ctrl+N"},    {CM_FILEOPEN, "Ctrl+O"}, {CM_FILESAVE, "Ctrl+S"},
        {CM_FILEPRINT, "Ctrl+P"},  {24321, "Ctrl+Z"},       {24329, "Ctrl+Y"},
        {24322, "Ctrl+X"},         {24323, "Ctrl+C"},       {24324, "Ctrl+V"},
        {15222, "Num++"},          {15221, "Num+-"},        {15224, "Num+*"},
        {15223, "Num+/"},          {15608, "Ctrl+U"},       {15604, "Ctrl+I"},
        {15605, "Ctrl+Shift+L"},   {15851, "Ctrl+Shift+N"}, {15856, "Ctrl+Del"},
        {15871, "Ctrl+Shift+>"},   {15872, "Ctrl+Shift+<"}, {15874, "Ctrl+Shift+]"},
        {15873, "Ctrl+Shift+["},   {15876, "Ctrl+."},       {15877, "Ctrl+,"},
        {15852, "Ctrl+E"},         {15801, "Ctrl+A"},       {15806, "Ctrl+D"},
        {15803, "Ctrl+Shift+I"},   {15807, "Del"},          {15821, "Ctrl+J"},
        {15822, "Ctrl+Shift+J"},   {15251, "Shift+Esc"},    {15253, "Ctrl+Space"},
        {CM_LASTFILTER, "Ctrl+F"}, {CM_HELPCONTENTS, "F1"},
    };
    return accels;
}

const std::vector<TToolbarDef>& Toolbars() {
    static const std::vector<TToolbarDef> bars = {
        {"Main",
         32041,
         TDock::Top,
         {CM_FILENEW, CM_FILEOPEN, CM_FILESAVE, 15001, 0, CM_FILEPRINT, CM_FILEPRINTPREVIEW, 0,
          24323, 24324, 0, 24321, 24329}},
        {"Effects",
         32042,
         TDock::Top,
         {15501, 15601, 15602, 15603, 0, 15607, 15608, 15521, 15611, 15609, 15504}},
        {"Tools", 0, TDock::Left, {15252, 15251, 15253, 0,     15260, 15262, 15261,
                                   15263, 15264, 0,     15301, 15302, 15303, 15308,
                                   15304, 15311, 15310, 15305, 15307, 15309, 15306}},
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
        {15001, "Scans an image"},
        {15002, "Chooses the scanner"},
        {15003, "Changes the program's options"},
        {24321, "Undoes the last change"},
        {24329, "Redoes the last undone change"},
        {24322, "Moves the selection or the layer to the clipboard"},
        {24323, "Copies the selection or the layer to the clipboard"},
        {24324, "Pastes the clipboard as a new layer"},
        {15501, "Changes the size of the image"},
        {15502, "Changes the size of the canvas"},
        {15601, "Crops the image to the selection"},
        {15602, "Flips the layer horizontally"},
        {15603, "Flips the layer vertically"},
        {15607, "Adjusts brightness and contrast"},
        {15608, "Adjusts hue and saturation"},
        {15521, "Adjusts the red, green and blue balance"},
        {15611, "Corrects the gamma"},
        {15609, "Blurs or sharpens the layer"},
        {15504, "Changes the color depth"},
        // The tools' hints are also what the status line shows while a tool is chosen.
        {15251, "Moves the selection"},
        {15252, "Zooms in and out on the current image"},
        {15253, "Scrolls current view by a mouse"},
        {15254, "Selects deformation tool"},
        {15260, "Rectangular Selection mode"},
        {15261, "Free Hand Selection mode"},
        {15262, "Elliptic Selection mode"},
        {15263, "Selection Retoucher mode"},
        {15264, "Magic Wand Selection mode"},
        {15301, "Line drawing mode"},
        {15302, "Rectangle drawing mode"},
        {15303, "Ellipse drawing mode"},
        {15304, "Brush drawing mode"},
        {15305, "Smudge drawing mode"},
        {15306, "Eyedropper mode"},
        {15307, "Clone Brush drawing mode"},
        {15308, "Fill drawing mode"},
        {15309, "Text tool"},
        {15310, "History Brush drawing mode"},
        {15311, "Airbrush drawing mode"},
        {15801, "Selects an entire layer"},
        {kViewMainBar, "Shows or hides the main toolbar"},
        {kViewEffectsBar, "Shows or hides the effects toolbar"},
        {kViewToolsBar, "Shows or hides the tools toolbar"},
        {kViewPalette, "Shows or hides the color palette"},
        {kViewToolOptions, "Shows or hides the tool options"},
        {kViewLayerList, "Shows or hides the layer list"},
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
