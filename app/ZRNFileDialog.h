// The output file dialog: keeps the typed name's extension in step with the
// file type the user picks.
#pragma once

#include <QFileDialog>
#include <string>

class ZRNFileDialog : public QFileDialog {
    Q_OBJECT
public:
    // `filter` in the program's resource form: "Text (*.x)|*.x|...||".
    ZRNFileDialog(bool open, const std::string& defaultExtension, const std::string& initialName,
                  const std::string& filter, QWidget* parent);

    // The name field's text, as the user typed it.
    std::string TypedName() const;

private:
    // Another file type was picked: the name gets that type's extension.
    void OnTypeChange(const QString& typeText);
};

// Lays out a file dialog of the program so that the Size, Type and Date
// columns show their texts whole (the name takes what is left), in a dialog
// wide enough for them.
void ShowFileColumnsWhole(QFileDialog* dialog);

// Makes this dialog the one the main settings form's Browse buttons open.
void InstallZrnFileDialog();
