// The output file dialog and its type change.
#include "app/ZRNFileDialog.h"

#include <QFontMetrics>
#include <QHeaderView>
#include <QLineEdit>
#include <QTreeView>
#include <algorithm>

#include "app/CMainSettingsForm.h"
#include "app/FrameLogic.h"

ZRNFileDialog::ZRNFileDialog(bool open, const std::string& defaultExtension, const std::string& initialName,
                             const std::string& filter, QWidget* parent)
    : QFileDialog(parent) {
    setObjectName("ZRNFileDialog");
    // The dialog's own widgets: the name field must be reachable for the type change.
    setOption(QFileDialog::DontUseNativeDialog, true);
    setAcceptMode(open ? QFileDialog::AcceptOpen : QFileDialog::AcceptSave);
    setFileMode(open ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
    setDefaultSuffix(QString::fromStdString(defaultExtension));
    QStringList filters;
    for (const std::string& entry : QtNameFilters(filter)) filters << QString::fromStdString(entry);
    if (!filters.isEmpty()) setNameFilters(filters);
    if (!initialName.empty()) selectFile(QString::fromStdString(initialName));
    setSizeGripEnabled(true);
    ShowFileColumnsWhole(this);
    connect(this, &QFileDialog::filterSelected, this, &ZRNFileDialog::OnTypeChange);
}

void ShowFileColumnsWhole(QFileDialog* dialog) {
    dialog->setOption(QFileDialog::DontUseNativeDialog, true);
    dialog->setViewMode(QFileDialog::Detail);
    const QFontMetrics metrics(dialog->font());
    dialog->resize(std::max(dialog->width(), 100 * metrics.averageCharWidth()),
                   std::max(dialog->height(), 26 * metrics.height()));
    auto* tree = dialog->findChild<QTreeView*>("treeView");
    if (!tree) return;
    QHeaderView* header = tree->header();
    header->setStretchLastSection(false);
    header->setSectionResizeMode(0, QHeaderView::Stretch);
    // Sized to what they hold as the folder's entries come in.
    for (int column = 1; column < header->count(); ++column)
        header->setSectionResizeMode(column, QHeaderView::ResizeToContents);
}

std::string ZRNFileDialog::TypedName() const {
    const auto* edit = findChild<QLineEdit*>("fileNameEdit");
    return edit ? edit->text().toStdString() : std::string();
}

void ZRNFileDialog::OnTypeChange(const QString& typeText) {
    auto* edit = findChild<QLineEdit*>("fileNameEdit");
    if (!edit) return;
    edit->setText(QString::fromStdString(FileNameForType(edit->text().toStdString(), typeText.toStdString())));
}

namespace {

bool RunZrnFileDialog(QWidget* parent, FormFileDialogRequest* request) {
    std::string name = request->name;
    if (name.find('*') != std::string::npos) name.clear();  // a pattern is no name to propose
    ZRNFileDialog dialog(!request->save, request->defaultExtension, name, request->filter, parent);
    dialog.setWindowTitle(QString::fromStdString(request->title));
    if (!request->folder.empty()) dialog.setDirectory(QString::fromStdString(request->folder));
    if (!name.empty()) dialog.selectFile(QString::fromStdString(name));
    // The form asks itself before it overwrites a file.
    dialog.setOption(QFileDialog::DontConfirmOverwrite, true);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return false;
    request->name = dialog.selectedFiles().front().toStdString();
    return true;
}

}  // namespace

void InstallZrnFileDialog() { SetFormFileDialogHook(RunZrnFileDialog); }
