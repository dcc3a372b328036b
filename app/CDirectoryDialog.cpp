// The folder chooser: folders read two levels ahead of what is shown.
#include "app/CDirectoryDialog.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QStyle>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <sys/stat.h>
#include <system_error>

#include "platform/MessageBox.h"
#include "platform/ResStrings.h"

namespace fs = std::filesystem;

namespace {

// Item data: the folder's name on disk, and whether its subfolders are listed.
constexpr int kNameRole = Qt::UserRole;
constexpr int kListedRole = Qt::UserRole + 1;
constexpr int kExpandedOnceRole = Qt::UserRole + 2;

std::vector<std::string> Subfolders(const std::string& path) {
    std::vector<std::string> names;
    std::error_code ec;
    for (fs::directory_iterator it(path, fs::directory_options::skip_permission_denied, ec), end; !ec && it != end;
         it.increment(ec)) {
        std::error_code typeError;
        if (it->is_directory(typeError) && !it->is_symlink(typeError)) names.push_back(it->path().filename().string());
    }
    return names;
}

bool EqualIgnoringCase(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

void Stop(const std::string& text, QWidget* owner) {
    platform::ShowMessageBox(text, "", platform::MbButtons::Ok, platform::MbIcon::Stop, owner);
}

}  // namespace

std::string FolderNameRefusal(const std::string& name) {
    if (name.empty() || name == "." || name == ".." || name.find_first_of("/\\") != std::string::npos ||
        name.find('\0') != std::string::npos)
        return "\"" + name + "\" is not a valid folder name.";
    return std::string();
}

std::string NextNewFolderName(const std::string& folder) {
    for (int counter = 1;; ++counter) {
        std::string name = std::string(LoadResString(63303)) + (counter < 10 ? "0" : "") + std::to_string(counter);
        std::error_code ec;
        if (!fs::exists(fs::path(folder) / name, ec) && !ec) return name;
        if (counter > 100000) return std::string();
    }
}

CDirectoryDialog::CDirectoryDialog(const std::string& initialPath, QWidget* parent)
    : QDialog(parent), chosenPath_(initialPath) {
    setObjectName("187");
    setWindowTitle("Choose A Folder");
    setModal(true);
    auto* layout = new QVBoxLayout(this);
    tree_ = new QTreeWidget(this);
    tree_->setObjectName("1161");
    tree_->setHeaderHidden(true);
    tree_->setColumnCount(1);
    tree_->setEditTriggers(QAbstractItemView::EditKeyPressed | QAbstractItemView::SelectedClicked);
    tree_->setMinimumSize(300, 280);
    tree_->viewport()->installEventFilter(this);
    layout->addWidget(tree_, 1);
    pathLabel_ = new QLabel("Folder", this);
    pathLabel_->setObjectName("1163");
    layout->addWidget(pathLabel_);
    auto* buttons = new QHBoxLayout;
    newFolder_ = new QPushButton("New Folder", this);
    newFolder_->setObjectName("1124");
    auto* ok = new QPushButton("OK", this);
    ok->setObjectName("1");
    ok->setDefault(true);
    auto* cancel = new QPushButton("Cancel", this);
    cancel->setObjectName("2");
    buttons->addWidget(newFolder_);
    buttons->addStretch(1);
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    layout->addLayout(buttons);

    connect(newFolder_, &QPushButton::clicked, this, &CDirectoryDialog::OnNewFolder);
    connect(ok, &QPushButton::clicked, this, &CDirectoryDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &CDirectoryDialog::reject);
    connect(tree_, &QTreeWidget::itemExpanded, this, &CDirectoryDialog::OnItemExpanding);
    connect(tree_, &QTreeWidget::itemSelectionChanged, this, &CDirectoryDialog::OnSelectionChanged);
    connect(tree_, &QTreeWidget::itemChanged, this, [this](QTreeWidgetItem* item, int) { OnLabelEdited(item); });
    connect(tree_, &QTreeWidget::itemDoubleClicked, this, [this] { accept(); });

    // "My Computer" and below it the file system's root, as a drive.
    filling_ = true;
    root_ = new QTreeWidgetItem(tree_, QStringList(QString::fromStdString(LoadResString(63301))));
    root_->setIcon(0, style()->standardIcon(QStyle::SP_ComputerIcon));
    auto* drive = new QTreeWidgetItem(root_, QStringList("/"));
    drive->setData(0, kNameRole, QString("/"));
    drive->setIcon(0, style()->standardIcon(QStyle::SP_DriveHDIcon));
    AddSubfolders(drive);
    for (int i = 0; i < drive->childCount(); ++i) AddSubfolders(drive->child(i));
    filling_ = false;
    root_->setExpanded(true);
    tree_->setCurrentItem(root_);
    OnSelectionChanged();
    if (!initialPath.empty()) SelectPath(initialPath);
}

QTreeWidgetItem* CDirectoryDialog::AddFolderItem(QTreeWidgetItem* parent, const std::string& name) {
    auto* item = new QTreeWidgetItem(parent, QStringList(QString::fromStdString(name)));
    item->setData(0, kNameRole, QString::fromStdString(name));
    item->setIcon(0, style()->standardIcon(QStyle::SP_DirIcon));
    item->setFlags(item->flags() | Qt::ItemIsEditable);
    return item;
}

void CDirectoryDialog::AddSubfolders(QTreeWidgetItem* item) {
    if (item->data(0, kListedRole).toBool()) return;
    item->setData(0, kListedRole, true);
    const bool wasFilling = filling_;
    filling_ = true;
    for (const std::string& name : Subfolders(BuildFolderPath(item))) AddFolderItem(item, name);
    item->sortChildren(0, Qt::AscendingOrder);
    filling_ = wasFilling;
}

std::string CDirectoryDialog::BuildFolderPath(QTreeWidgetItem* item) const {
    if (!item || item == root_) return std::string();
    if (item->parent() == root_) return item->data(0, kNameRole).toString().toStdString();
    std::string parent = BuildFolderPath(item->parent());
    if (parent.empty() || parent.back() != '/') parent += '/';
    return parent + item->data(0, kNameRole).toString().toStdString();
}

void CDirectoryDialog::OnItemExpanding(QTreeWidgetItem* item) {
    if (item == root_ || item->parent() == root_ || item->data(0, kExpandedOnceRole).toBool()) {
        // The drive's two levels were read at the start.
        if (item->parent() == root_)
            for (int i = 0; i < item->childCount(); ++i) AddSubfolders(item->child(i));
        return;
    }
    QApplication::setOverrideCursor(Qt::WaitCursor);
    for (int i = 0; i < item->childCount(); ++i) AddSubfolders(item->child(i));
    item->setData(0, kExpandedOnceRole, true);
    QApplication::restoreOverrideCursor();
}

void CDirectoryDialog::OnSelectionChanged() {
    QTreeWidgetItem* item = tree_->currentItem();
    currentPath_ = BuildFolderPath(item);
    pathLabel_->setText(QString::fromStdString(currentPath_));
    newFolder_->setEnabled(item && item != root_);
}

void CDirectoryDialog::SelectPath(const std::string& path) {
    QTreeWidgetItem* item = root_->child(0);
    if (!item || path.empty() || path[0] != '/') return;
    tree_->setCurrentItem(item);
    for (const fs::path& part : fs::path(path).relative_path()) {
        const std::string component = part.string();
        if (component.empty()) continue;
        item->setExpanded(true);
        QTreeWidgetItem* match = nullptr;
        for (int i = 0; i < item->childCount() && !match; ++i)
            if (item->child(i)->data(0, kNameRole).toString().toStdString() == component) match = item->child(i);
        for (int i = 0; i < item->childCount() && !match; ++i)
            if (EqualIgnoringCase(item->child(i)->data(0, kNameRole).toString().toStdString(), component))
                match = item->child(i);
        if (!match) break;  // the deepest part that exists stays selected
        item = match;
        tree_->setCurrentItem(item);
        tree_->scrollToItem(item);
    }
    OnSelectionChanged();
}

void CDirectoryDialog::OnNewFolder() {
    QTreeWidgetItem* selected = tree_->currentItem();
    if (!selected || selected == root_) return;
    const std::string folder = BuildFolderPath(selected);
    const std::string name = NextNewFolderName(folder);
    if (name.empty() || ::mkdir((fs::path(folder) / name).c_str(), 0777) != 0) {
        const std::string reason = name.empty() ? std::string() : std::string("\n") + std::strerror(errno);
        Stop(LoadResString(63304) + reason, this);
        return;
    }
    AddSubfolders(selected);  // a folder not read yet gets its listing (with the new one) now
    QTreeWidgetItem* item = nullptr;
    for (int i = 0; i < selected->childCount() && !item; ++i)
        if (selected->child(i)->data(0, kNameRole).toString().toStdString() == name) item = selected->child(i);
    if (!item) {
        filling_ = true;
        item = AddFolderItem(selected, name);
        filling_ = false;
    }
    item->setData(0, kListedRole, true);
    selected->setExpanded(true);
    tree_->setCurrentItem(item);
    tree_->scrollToItem(item);
    tree_->editItem(item, 0);
}

void CDirectoryDialog::OnLabelEdited(QTreeWidgetItem* item) {
    if (filling_ || !item || item == root_ || item->parent() == root_) return;
    const std::string oldName = item->data(0, kNameRole).toString().toStdString();
    const std::string newName = item->text(0).toStdString();
    auto keepOldLabel = [&] {
        filling_ = true;
        item->setText(0, QString::fromStdString(oldName));
        filling_ = false;
    };
    if (newName.empty() || newName == oldName) {
        keepOldLabel();
        return;
    }
    const std::string parent = BuildFolderPath(item->parent());
    const fs::path oldPath = fs::path(parent) / oldName;
    const fs::path newPath = fs::path(parent) / newName;
    std::string refusal = FolderNameRefusal(newName);
    std::error_code ec;
    // A rename onto an existing (empty) folder would replace it: refused.
    if (refusal.empty() && (fs::exists(newPath, ec) || fs::is_symlink(newPath, ec)))
        refusal = LoadResString(63302);
    if (refusal.empty()) {
        fs::rename(oldPath, newPath, ec);
        if (ec) refusal = ec.message();
    }
    if (!refusal.empty()) {
        keepOldLabel();
        Stop(refusal, this);
    } else {
        item->setData(0, kNameRole, QString::fromStdString(newName));
    }
    item->parent()->sortChildren(0, Qt::AscendingOrder);
    tree_->setCurrentItem(item);
    OnSelectionChanged();
}

void CDirectoryDialog::accept() {
    chosenPath_ = currentPath_;
    QDialog::accept();
}

bool CDirectoryDialog::eventFilter(QObject* watched, QEvent* event) {
    if (watched == tree_->viewport() && event->type() == QEvent::MouseButtonDblClick &&
        static_cast<QMouseEvent*>(event)->button() == Qt::RightButton) {
        accept();
        return true;
    }
    return QDialog::eventFilter(watched, event);
}
