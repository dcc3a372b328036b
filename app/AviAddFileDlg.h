// The add-files dialog of the batch: a file dialog that stays open, adding
// every chosen AVI or profile file to the batch dialog's job list with each
// "&Add" until "&Done".
#pragma once

#include <QFileDialog>
#include <string>

class CBatchDialog;

class AviAddFileDlg : public QFileDialog {
    Q_OBJECT
public:
    AviAddFileDlg(CBatchDialog& batch, const std::string& folder);

    // The files added so far (the last one names the folder to remember).
    const std::vector<std::string>& Added() const { return added_; }

    void done(int result) override;

private:
    // What "&Add" does with the chosen files.
    void OnFileNameOK(const QStringList& files);

    CBatchDialog& batch_;
    std::vector<std::string> added_;
};
