// The folder chooser against a temporary tree: new folders and their
// numbers, renames refused or done, the initial path, the root.
#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <filesystem>

#include "app/CDirectoryDialog.h"
#include "platform/MessageBox.h"
#include "tests/app/frame_util.h"
#include "tests/support/QtTestSupport.h"
#include "tests/support/TestSupport.h"

namespace fs = std::filesystem;

namespace {

class FolderChooserTest : public ::testing::Test {
protected:
    void SetUp() override {
        qttest::KeyEventApp();
        fs::create_directories(dir_ / "work" / "NewFolder01");
        fs::create_directories(dir_ / "work" / "NewFolder02");
        fs::create_directories(dir_ / "work" / "keep" / "inside");
    }
    QTreeWidgetItem* Current(CDirectoryDialog& dialog) { return Tree(dialog)->currentItem(); }
    QTreeWidget* Tree(CDirectoryDialog& dialog) { return dialog.findChild<QTreeWidget*>("1161"); }
    std::string Label(CDirectoryDialog& dialog) { return dialog.findChild<QLabel*>("1163")->text().toStdString(); }
    QTreeWidgetItem* Child(QTreeWidgetItem* item, const char* name) {
        for (int i = 0; i < item->childCount(); ++i)
            if (item->child(i)->text(0) == name) return item->child(i);
        return nullptr;
    }

    testsupport::TempDir dir_;
    platform::ScriptedMessageBoxes boxes_;
};

TEST_F(FolderChooserTest, NewFoldersAndRenames) {
    const std::string work = (dir_ / "work").string();
    // A path whose tail is gone selects its deepest existing part.
    CDirectoryDialog dialog(work + "/gone/deeper", nullptr);
    dialog.show();
    EXPECT_EQ(dialog.CurrentPath(), work);
    EXPECT_EQ(Label(dialog), work);
    auto* newFolder = dialog.findChild<QPushButton*>("1124");
    ASSERT_TRUE(newFolder->isEnabled());

    newFolder->click();
    EXPECT_TRUE(fs::is_directory(work + "/NewFolder03"));
    EXPECT_EQ(dialog.CurrentPath(), work + "/NewFolder03");
    QTreeWidgetItem* created = Current(dialog);
    // Typed into the open label and confirmed.
    auto* editor = Tree(dialog)->viewport()->findChild<QLineEdit*>();
    ASSERT_NE(editor, nullptr);  // its label is open for editing
    EXPECT_EQ(editor->text(), "NewFolder03");
    editor->setText("a/b");
    QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    QApplication::sendEvent(editor, &enter);
    QApplication::processEvents();  // the view commits the edit from its queue
    EXPECT_EQ(created->text(0), "NewFolder03");
    for (int n = 4; n <= 9; ++n) fs::create_directory(work + "/NewFolder0" + std::to_string(n));
    EXPECT_EQ(NextNewFolderName(work), "NewFolder10");

    // Names that are no single folder name, and a folder that exists, are refused; nothing moves.
    for (const char* bad : {"a\\b", ".", "..", "NewFolder01"}) {
        created->setText(0, bad);
        EXPECT_EQ(created->text(0), "NewFolder03") << bad;
    }
    EXPECT_TRUE(fs::is_directory(work + "/NewFolder03"));
    EXPECT_TRUE(fs::is_directory(work + "/NewFolder01"));
    ASSERT_EQ(boxes_.Texts().size(), 5u) << testing::PrintToString(boxes_.Texts());
    EXPECT_EQ(boxes_.Texts()[4], "A folder with the same name already exists.  Choose another name.");
    EXPECT_EQ(boxes_.Texts()[3], "\"..\" is not a valid folder name.");

    created->setText(0, "Holiday");
    EXPECT_TRUE(fs::is_directory(work + "/Holiday"));
    EXPECT_FALSE(fs::exists(work + "/NewFolder03"));
    EXPECT_EQ(dialog.CurrentPath(), work + "/Holiday");

    // Subfolders are read ahead: "keep" shows "inside" before it is opened.
    QTreeWidgetItem* keep = Child(created->parent(), "keep");
    ASSERT_NE(keep, nullptr);
    EXPECT_NE(Child(keep, "inside"), nullptr);

    // "My Computer": no path, no New Folder.
    Tree(dialog)->setCurrentItem(Tree(dialog)->topLevelItem(0));
    EXPECT_EQ(Label(dialog), "");
    EXPECT_FALSE(newFolder->isEnabled());
    Tree(dialog)->setCurrentItem(created);
    dialog.findChild<QPushButton*>("1")->click();
    EXPECT_EQ(dialog.ChosenPath(), work + "/Holiday");
    dialog.show();
    dialog.grab().save(QString::fromStdString((fs::current_path() / "folder_chooser.png").string()));  // for a look
}

}  // namespace
