// The "Choose A Folder" dialog: a tree of the file system below "My
// Computer" in which a folder is picked, renamed in place or created.
#pragma once

#include <QDialog>
#include <string>

class QLabel;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

// Why a folder name typed by the user cannot be used ("" when it can): it
// must name one folder inside the selected one.
std::string FolderNameRefusal(const std::string& name);
// The first "NewFolder01", "NewFolder02", ... that names nothing in `folder`.
std::string NextNewFolderName(const std::string& folder);

class CDirectoryDialog : public QDialog {
    Q_OBJECT
public:
    CDirectoryDialog(const std::string& initialPath, QWidget* parent = nullptr);

    // The folder chosen with OK (or double-click).
    const std::string& ChosenPath() const { return chosenPath_; }
    const std::string& CurrentPath() const { return currentPath_; }

    // The full path of an item ("" for the root).
    std::string BuildFolderPath(QTreeWidgetItem* item) const;

    void OnNewFolder();
    void accept() override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void AddSubfolders(QTreeWidgetItem* item);
    QTreeWidgetItem* AddFolderItem(QTreeWidgetItem* parent, const std::string& name);
    void OnItemExpanding(QTreeWidgetItem* item);
    void OnSelectionChanged();
    void OnLabelEdited(QTreeWidgetItem* item);
    void SelectPath(const std::string& path);

    std::string chosenPath_;
    std::string currentPath_;
    QTreeWidget* tree_;
    QTreeWidgetItem* root_;
    QLabel* pathLabel_;
    QPushButton* newFolder_;
    bool filling_ = false;
};
