// The menus, accelerators and tool bars as tables: what the shell builds its windows from.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <set>

#include "CommandTables.h"
#include "DocManager.h"

namespace {

void ForEachCommand(const TMenuDef& menu, const std::function<void(const TMenuDef&)>& f)
{
    for (const TMenuDef& item : menu.Items) {
        if (item.IsPopup())
            ForEachCommand(item, f);
        else if (!item.IsSeparator())
            f(item);
    }
}

void ForEachPopup(const TMenuDef& menu, const std::function<void(const TMenuDef&)>& f)
{
    for (const TMenuDef& item : menu.Items) {
        if (item.IsPopup()) {
            f(item);
            ForEachPopup(item, f);
        }
    }
}

std::set<int> CommandIds(const TMenuDef& menu)
{
    std::set<int> ids;
    ForEachCommand(menu, [&](const TMenuDef& item) { ids.insert(item.Id); });
    return ids;
}

std::string AccelText(const std::string& text)
{
    const size_t tab = text.find('\t');
    return tab == std::string::npos ? std::string() : text.substr(tab + 1);
}

// The key a menu's accelerator text stands for, in the key table's spelling: modifiers
// in Ctrl, Shift order, the keypad written as "Num+", and Ctrl with a shifted glyph
// alone meaning the unshifted key it is printed on.
std::string KeyOfMenuText(std::string text)
{
    const std::map<std::string, std::string> keypad = {
        {"Num Keypad +", "Num++"}, {"Num Keypad -", "Num+-"}, {"Num Keypad *", "Num+*"}, {"Num Keypad /", "Num+/"}};
    if (auto it = keypad.find(text); it != keypad.end())
        return it->second;
    if (text.rfind("Shift+Ctrl+", 0) == 0)
        text = "Ctrl+Shift+" + text.substr(11);
    if (text == "Ctrl+>")
        return "Ctrl+.";
    if (text == "Ctrl+<")
        return "Ctrl+,";
    return text;
}

class CommandTablesTest : public ::testing::Test {
protected:
    void TearDown() override { SetPluginMenu({}); }
};

} // namespace

TEST_F(CommandTablesTest, EveryToolbarButtonIsAlsoAMenuCommandWithAHint)
{
    const std::set<int> menuIds = CommandIds(MenuResource(IDM_IMAGE));
    ASSERT_EQ(Toolbars().size(), 3u);
    for (const TToolbarDef& bar : Toolbars()) {
        EXPECT_FALSE(bar.Buttons.empty()) << bar.Caption;
        EXPECT_NE(bar.Buttons.front(), 0) << bar.Caption << " starts with a separator";
        EXPECT_NE(bar.Buttons.back(), 0) << bar.Caption << " ends with a separator";
        for (int id : bar.Buttons) {
            if (id == 0)
                continue;
            EXPECT_TRUE(menuIds.count(id)) << bar.Caption << " button " << id << " is in no menu";
            EXPECT_FALSE(CommandHint(id).empty()) << id;
        }
    }
    EXPECT_EQ(Toolbars()[2].Dock, TDock::Left);
}

TEST_F(CommandTablesTest, EachCommandHasOneNumberedIdOneTextAndOnePlacePerMenu)
{
    std::map<int, std::string> textOf;
    for (int menuId : {IDM_NODOC, IDM_IMAGE}) {
        std::map<int, int> seen;
        ForEachCommand(MenuResource(menuId), [&](const TMenuDef& item) {
            // The program's own numbers, or the framework's file, edit and window commands.
            EXPECT_TRUE((item.Id >= 15001 && item.Id <= 16001) || (item.Id >= 24310 && item.Id <= 24365))
                << "item \"" << item.Text << "\" has command " << item.Id;
            EXPECT_FALSE(item.Text.empty()) << item.Id;
            EXPECT_EQ(++seen[item.Id], 1) << item.Id << " twice in menu " << menuId;
            auto [it, added] = textOf.emplace(item.Id, item.Text);
            EXPECT_TRUE(added || it->second == item.Text)
                << item.Id << ": \"" << it->second << "\" and \"" << item.Text << "\"";
        });
    }
    // Whatever works without a document is still there with one.
    const std::set<int> withDoc = CommandIds(MenuResource(IDM_IMAGE));
    for (int id : CommandIds(MenuResource(IDM_NODOC)))
        EXPECT_TRUE(withDoc.count(id)) << id;
    EXPECT_TRUE(MenuResource(12345).Items.empty());
}

TEST_F(CommandTablesTest, MenusAreWellFormed)
{
    for (int menuId : {IDM_NODOC, IDM_IMAGE}) {
        const TMenuDef& menu = MenuResource(menuId);
        for (const TMenuDef& top : menu.Items)
            EXPECT_TRUE(top.IsPopup()) << "menu bar item \"" << top.Text << "\" is not a pop-up";
        ForEachPopup(menu, [&](const TMenuDef& popup) {
            EXPECT_FALSE(popup.Text.empty());
            EXPECT_EQ(popup.Id, 0) << popup.Text;
            const auto& items = popup.Items;
            EXPECT_FALSE(items.front().IsSeparator()) << popup.Text;
            EXPECT_FALSE(items.back().IsSeparator()) << popup.Text;
            for (size_t i = 1; i < items.size(); ++i)
                EXPECT_FALSE(items[i].IsSeparator() && items[i - 1].IsSeparator()) << popup.Text << " at " << i;
        });
    }
    std::vector<std::string> titles;
    for (const TMenuDef& top : MenuResource(IDM_IMAGE).Items)
        titles.push_back(PlainMenuText(top.Text));
    EXPECT_EQ(titles, (std::vector<std::string>{"File", "Edit", "View", "Image", "Layer", "Selection", "Tools",
                                                "Effects", "Window", "Help"}));
}

TEST_F(CommandTablesTest, BothFileMenusOfferTheRecentFilesAboveExit)
{
    for (int menuId : {IDM_NODOC, IDM_IMAGE}) {
        const TMenuDef& file = MenuResource(menuId).Items.front();
        ASSERT_EQ(PlainMenuText(file.Text), "File");
        const auto& items = file.Items;
        auto first = std::find_if(items.begin(), items.end(), [](const TMenuDef& m) { return IsRecentFileSlot(m.Id); });
        ASSERT_NE(first, items.end());
        for (int i = 0; i < kRecentFileCount; ++i)
            EXPECT_EQ(first[i].Id, CM_MRU_FIRST + i);
        EXPECT_FALSE(IsRecentFileSlot(first[kRecentFileCount].Id));
        EXPECT_EQ(items.back().Id, CM_EXIT);
    }
    EXPECT_FALSE(IsRecentFileSlot(CM_MRU_FIRST - 1));
    EXPECT_FALSE(IsRecentFileSlot(CM_MRU_FIRST + kRecentFileCount));
}

TEST_F(CommandTablesTest, AcceleratorsAreUniqueAndMatchTheMenuTexts)
{
    SetPluginMenu({"Sharpen Pro"}); // Last Filter's Ctrl+F lives in the plug-in menu
    const TMenuDef& menu = MenuResource(IDM_IMAGE);
    std::set<std::string> keys;
    std::set<int> ids;
    for (const TAccelDef& a : Accelerators()) {
        EXPECT_TRUE(keys.insert(a.Key).second) << a.Key << " bound twice";
        EXPECT_TRUE(ids.insert(a.Id).second) << a.Id << " has two keys";
        const TMenuDef* item = FindMenuItem(menu, a.Id);
        ASSERT_TRUE(item) << a.Key << " runs " << a.Id << ", which is in no menu";
        EXPECT_EQ(KeyOfMenuText(AccelText(item->Text)), a.Key) << item->Text;
    }
    // And every key a menu shows is bound.
    ForEachCommand(menu, [&](const TMenuDef& item) {
        if (!AccelText(item.Text).empty()) {
            EXPECT_TRUE(ids.count(item.Id)) << item.Text;
        }
    });
}

TEST_F(CommandTablesTest, PluginMenuFollowsEffectsOnlyWhilePluginsExist)
{
    auto titles = [] {
        std::vector<std::string> t;
        for (const TMenuDef& top : MenuResource(IDM_IMAGE).Items)
            t.push_back(top.Text);
        return t;
    };
    const auto before = titles();
    EXPECT_EQ(std::count(before.begin(), before.end(), "Pl&ugins"), 0);

    SetPluginMenu({"Sharpen Pro", "Soft Glow"});
    SetPluginMenu({"Sharpen Pro", "Soft Glow", "Emboss Deluxe"}); // replaces, never doubles
    auto after = titles();
    auto effects = std::find(after.begin(), after.end(), "Effe&cts");
    ASSERT_NE(effects, after.end());
    ASSERT_EQ(*(effects + 1), "Pl&ugins");
    EXPECT_EQ(after.size(), before.size() + 1);

    const TMenuDef& plugins = MenuResource(IDM_IMAGE).Items[size_t(effects + 1 - after.begin())];
    ASSERT_EQ(plugins.Items.size(), 5u);
    EXPECT_EQ(plugins.Items[0].Id, CM_LASTFILTER);
    EXPECT_EQ(plugins.Items[0].Text, "&Last Filter\tCtrl+F");
    EXPECT_TRUE(plugins.Items[1].IsSeparator());
    for (int k = 0; k < 3; ++k)
        EXPECT_EQ(plugins.Items[size_t(2 + k)].Id, CM_PLUGIN_FIRST + k);
    EXPECT_EQ(plugins.Items[4].Text, "Emboss Deluxe");

    SetPluginMenu({});
    EXPECT_EQ(titles(), before);
}

TEST_F(CommandTablesTest, HintsAndPlainTexts)
{
    EXPECT_EQ(PlainMenuText("Save &As...\tCtrl+S"), "Save As...");
    EXPECT_EQ(PlainMenuText("Black && &White"), "Black & White");
    EXPECT_EQ(PlainMenuText("Trailing&"), "Trailing");

    // The status line describes every menu command.
    ForEachCommand(MenuResource(IDM_IMAGE), [](const TMenuDef& item) {
        if (!IsRecentFileSlot(item.Id)) {
            EXPECT_FALSE(CommandHint(item.Id).empty()) << item.Text;
        }
    });
    EXPECT_EQ(CommandHint(15703), "Emboss"); // from the menu text, without the dots
    EXPECT_EQ(CommandHint(15309), "Text tool");
    EXPECT_TRUE(CommandHint(99999).empty());
}
