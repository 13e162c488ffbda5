// The menus, accelerators and tool bars as tables: what the shell builds its windows from.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <set>

#include "CommandTables.h"
#include "DocManager.h"

namespace {

using TVisit = std::function<void(const TMenuDef&)>;

// Calls `command` on every command item below `menu` and `popup` on every pop-up.
void Walk(const TMenuDef& menu, const TVisit& command, const TVisit& popup = {}) {
    for (const TMenuDef& item : menu.Items) {
        if (item.IsPopup()) {
            if (popup) popup(item);
            Walk(item, command, popup);
        } else if (!item.IsSeparator()) {
            command(item);
        }
    }
}

std::set<int> CommandIds(const TMenuDef& menu) {
    std::set<int> ids;
    Walk(menu, [&](const TMenuDef& item) { ids.insert(item.Id); });
    return ids;
}

std::string AccelText(const std::string& text) {
    const size_t tab = text.find('\t');
    return tab == std::string::npos ? std::string() : text.substr(tab + 1);
}

// The key a menu's accelerator text stands for, in the key table's spelling: modifiers
// in Ctrl, Shift order, the keypad written as "Num+", and Ctrl with a shifted glyph
// alone meaning the unshifted key it is printed on.
std::string KeyOfMenuText(const std::string& text) {
    static const std::map<std::string, std::string> special = {
        {"Num Keypad +", "Num++"}, {"Num Keypad -", "Num+-"}, {"Num Keypad *", "Num+*"},
        {"Num Keypad /", "Num+/"}, {"Ctrl+>", "Ctrl+."},      {"Ctrl+<", "Ctrl+,"}};
    if (auto it = special.find(text); it != special.end()) return it->second;
    if (text.rfind("Shift+Ctrl+", 0) == 0) return "Ctrl+Shift+" + text.substr(11);
    return text;
}

class CommandTablesTest : public ::testing::Test {
protected:
    void TearDown() override { SetPluginMenu({}); }
};

} // namespace

TEST_F(CommandTablesTest, MenusAreWellFormedAndEachCommandHasOneIdOneTextAndAHint) {
    std::map<int, std::string> textOf;
    for (int menuId : {IDM_NODOC, IDM_IMAGE}) {
        const TMenuDef& menu = MenuResource(menuId);
        for (const TMenuDef& top : menu.Items)
            EXPECT_TRUE(top.IsPopup()) << "menu bar item \"" << top.Text << "\" is not a pop-up";
        std::map<int, int> seen;
        const auto command = [&](const TMenuDef& item) {
            // The program's own numbers, or the framework's file, edit and window commands.
            EXPECT_TRUE((item.Id >= CM_OWN_FIRST && item.Id <= CM_OWN_LAST) ||
                        (item.Id >= CM_FRAMEWORK_FIRST && item.Id <= CM_FRAMEWORK_LAST))
                << "item \"" << item.Text << "\" has command " << item.Id;
            EXPECT_FALSE(item.Text.empty()) << item.Id;
            EXPECT_EQ(++seen[item.Id], 1) << item.Id << " twice in menu " << menuId;
            auto [it, added] = textOf.emplace(item.Id, item.Text);
            EXPECT_TRUE(added || it->second == item.Text)
                << item.Id << ": \"" << it->second << "\" and \"" << item.Text << "\"";
            // The status line describes every command; the recent-file slots show their paths.
            if (!IsRecentFileSlot(item.Id)) {
                EXPECT_FALSE(CommandHint(item.Id).empty()) << item.Text;
            }
        };
        Walk(menu, command, [&](const TMenuDef& popup) {
            EXPECT_FALSE(popup.Text.empty());
            EXPECT_EQ(popup.Id, 0) << popup.Text;
            const auto& items = popup.Items;
            EXPECT_FALSE(items.front().IsSeparator() || items.back().IsSeparator()) << popup.Text;
            for (size_t i = 1; i < items.size(); ++i)
                EXPECT_FALSE(items[i].IsSeparator() && items[i - 1].IsSeparator())
                    << popup.Text << " at " << i;
        });
    }
    // Whatever works without a document is still there with one.
    const std::set<int> withDoc = CommandIds(MenuResource(IDM_IMAGE));
    for (int id : CommandIds(MenuResource(IDM_NODOC))) EXPECT_TRUE(withDoc.count(id)) << id;
    EXPECT_TRUE(MenuResource(12345).Items.empty());

    for (const TToolbarDef& bar : Toolbars()) {
        ASSERT_FALSE(bar.Buttons.empty()) << bar.Caption;
        EXPECT_TRUE(bar.Buttons.front() != 0 && bar.Buttons.back() != 0)
            << bar.Caption << " has a separator at an end";
        for (int id : bar.Buttons)
            EXPECT_TRUE(id == 0 || withDoc.count(id))
                << bar.Caption << " button " << id << " is in no menu";
    }
}

TEST_F(CommandTablesTest, BothFileMenusOfferTheRecentFilesAboveExit) {
    for (int menuId : {IDM_NODOC, IDM_IMAGE}) {
        const auto& items = MenuResource(menuId).Items.front().Items;
        size_t first = 0;
        while (first < items.size() && !IsRecentFileSlot(items[first].Id)) ++first;
        ASSERT_LT(first + kRecentFileCount, items.size()) << menuId;
        for (int i = 0; i < kRecentFileCount; ++i)
            EXPECT_EQ(items[first + size_t(i)].Id, CM_MRU_FIRST + i);
        EXPECT_FALSE(IsRecentFileSlot(items[first + kRecentFileCount].Id));
        EXPECT_EQ(items.back().Id, CM_EXIT);
    }
    EXPECT_FALSE(IsRecentFileSlot(CM_MRU_FIRST - 1) ||
                 IsRecentFileSlot(CM_MRU_FIRST + kRecentFileCount));
}

// (That no two keys collide is checked where Qt parses them.)
TEST_F(CommandTablesTest, AcceleratorsMatchTheMenuTexts) {
    SetPluginMenu({"Sharpen Pro"}); // Last Filter's Ctrl+F lives in the plug-in menu
    const TMenuDef& menu = MenuResource(IDM_IMAGE);
    std::set<int> ids;
    std::set<std::string> keys;
    for (const TAccelDef& a : Accelerators()) {
        EXPECT_TRUE(keys.insert(a.Key).second) << a.Key << " is bound twice";
        const TMenuDef* item = FindMenuItem(menu, a.Id);
        ASSERT_TRUE(item) << a.Key << " runs " << a.Id << ", which is in no menu";
        // The first key of a command is the one its menu shows; later ones are alternatives
        // (Ctrl+Ins for Copy).
        if (ids.insert(a.Id).second) {
            EXPECT_EQ(KeyOfMenuText(AccelText(item->Text)), a.Key) << item->Text;
        }
    }
    // And every key a menu shows is bound.
    Walk(menu, [&](const TMenuDef& item) {
        if (!AccelText(item.Text).empty()) {
            EXPECT_TRUE(ids.count(item.Id)) << item.Text;
        }
    });
}

TEST_F(CommandTablesTest, PluginMenuFollowsEffectsOnlyWhilePluginsExist) {
    const std::vector<TMenuDef>& top = MenuResource(IDM_IMAGE).Items;
    const auto isPlugins = [](const TMenuDef& m) { return m.Text == "Pl&ugins"; };
    const size_t before = top.size();
    ASSERT_TRUE(std::none_of(top.begin(), top.end(), isPlugins));

    SetPluginMenu({"Sharpen Pro", "Soft Glow"});
    SetPluginMenu({"Sharpen Pro", "Soft Glow", "Emboss Deluxe"}); // replaces, never doubles
    ASSERT_EQ(top.size(), before + 1);
    const auto effects = std::find_if(top.begin(), top.end(),
                                      [](const TMenuDef& m) { return m.Text == "Effe&cts"; });
    ASSERT_TRUE(effects < top.end() - 1 && isPlugins(effects[1]));
    std::vector<std::pair<int, std::string>> items;
    for (const TMenuDef& m : effects[1].Items) items.emplace_back(m.Id, m.Text);
    EXPECT_EQ(items,
              (std::vector<std::pair<int, std::string>>{{CM_LASTFILTER, "&Last Filter\tCtrl+F"},
                                                        {0, ""},
                                                        {CM_PLUGIN_FIRST, "Sharpen Pro"},
                                                        {CM_PLUGIN_FIRST + 1, "Soft Glow"},
                                                        {CM_PLUGIN_FIRST + 2, "Emboss Deluxe"}}));
    SetPluginMenu({});
    EXPECT_EQ(top.size(), before);
    EXPECT_TRUE(std::none_of(top.begin(), top.end(), isPlugins));
}

TEST_F(CommandTablesTest, HintsAndPlainTexts) {
    EXPECT_EQ(PlainMenuText("Save &As...\tCtrl+S"), "Save As...");
    EXPECT_EQ(PlainMenuText("Black && &White"), "Black & White");
    EXPECT_EQ(PlainMenuText("Trailing&"), "Trailing");
    EXPECT_EQ(CommandHint(CM_EFFECT_EMBOSS), "Emboss"); // from the menu text, without the dots
    EXPECT_TRUE(CommandHint(99999).empty());
}
