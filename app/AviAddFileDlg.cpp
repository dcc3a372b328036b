// The add-files dialog: "&Add" adds the chosen files and keeps it open.
#include "app/AviAddFileDlg.h"

#include <QAbstractItemView>
#include <QLineEdit>

#include "app/BatchList.h"
#include "app/CBatchDialog.h"
#include "app/FrameLogic.h"
#include "app/ZRNFileDialog.h"
#include "platform/MessageBox.h"
#include "platform/ResStrings.h"

AviAddFileDlg::AviAddFileDlg(CBatchDialog& batch, const std::string& folder) : QFileDialog(&batch), batch_(batch) {
    setObjectName("AviAddFileDlg");
    setOption(QFileDialog::DontUseNativeDialog, true);
    setOption(QFileDialog::ReadOnly, true);
    setWindowTitle(QString::fromStdString(LoadResString(63221)));
    setAcceptMode(QFileDialog::AcceptOpen);
    setFileMode(QFileDialog::ExistingFiles);
    setDefaultSuffix("avi");
    QStringList filters;
    for (const std::string& entry : QtNameFilters(LoadResString(63227))) filters << QString::fromStdString(entry);
    setNameFilters(filters);
    setLabelText(QFileDialog::Accept, QString::fromStdString(LoadResString(63223)));
    setLabelText(QFileDialog::Reject, QString::fromStdString(LoadResString(63224)));
    if (!folder.empty()) setDirectory(QString::fromStdString(folder));
    setSizeGripEnabled(true);
    ShowFileColumnsWhole(this);
}

void AviAddFileDlg::done(int result) {
    if (result != QDialog::Accepted) {
        QFileDialog::done(result);
        return;
    }
    // Every "&Add" takes the files chosen now; only "&Done" closes.
    OnFileNameOK(selectedFiles());
    // Added: the next "&Add" takes only what is chosen after it.
    for (QAbstractItemView* view : findChildren<QAbstractItemView*>())
        if (view->selectionModel()) view->clearSelection();
    if (auto* name = findChild<QLineEdit*>("fileNameEdit")) name->clear();
}

void AviAddFileDlg::OnFileNameOK(const QStringList& files) {
    for (const QString& file : files) {
        const std::string path = file.toStdString();
        const JobEntryKind kind = ClassifyJobEntry(path);
        if (kind == JobEntryKind::Avi || kind == JobEntryKind::ProfilePath) {
            if (batch_.AddJob(path)) added_.push_back(path);
        } else {
            platform::ShowMessageBox(path + LoadResString(63225), "", platform::MbButtons::Ok,
                                     platform::MbIcon::None, this);
        }
    }
}
