// The program's one document: the current encoding profile, that is the
// process-wide EncoderSettings as loaded from or saved to one ".prf" file.
// Its title and recent-file entry carry the profile's description.
#pragma once

#include <QObject>
#include <optional>
#include <string>

class RecentFileList;

// What the document needs of the main settings form. Once one is attached
// the view exists; every call reaches the real form.
class DocumentFormLink {
public:
    virtual ~DocumentFormLink() = default;
    // Refreshes the form from EncoderSettings.
    virtual void LoadDefaultProfile() = 0;
    // Stores the form into EncoderSettings; false (after a message) when a value is bad.
    virtual bool ApplyToParameters() = 0;
    // Takes a new input file; false when refused.
    virtual bool SetInputFile(const std::string& path) = 0;
};

class CMpegDoc : public QObject {
    Q_OBJECT
public:
    explicit CMpegDoc(RecentFileList& recentFiles, QObject* parent = nullptr);
    ~CMpegDoc() override;

    // False when the encoder library could not be prepared: the program ends.
    bool EncoderLibraryReady() const { return encoderLibraryReady_; }

    void SetForm(DocumentFormLink* form) { form_ = form; }
    DocumentFormLink* Form() const { return form_; }

    // Reset Profile: asks to save a modified profile, then starts afresh.
    bool OnFileNew();
    // Built-in defaults (or the default profile, the first time), no file.
    bool OnNewDocument();
    // A profile file, a recent-file entry (a path or a description), or an
    // AVI file, which becomes the form's input.
    bool OnOpenDocument(const std::string& path);
    // Opens entry `index` of the recent-file list; the list changes only
    // when the open succeeded.
    bool OpenRecentFile(int index);
    // False when nothing was saved (cancelled or failed).
    bool OnFileSave();
    bool OnFileSaveAs();
    // Asks whether to save a modified profile; false when the caller must stop.
    bool SaveModified();
    // The profile manager's Load.
    bool LoadProfileFromPath(const std::string& path);
    // The profile manager deletes the file `selectedPath` of that description.
    void OnProfileDeleted(const std::string& description, const std::string& selectedPath);
    // The profile manager renamed the profile of file `path`.
    void OnProfileRenamed(const std::string& path, const std::string& oldDescription,
                          const std::string& description);
    // The profile manager made the file `path` (a copy).
    void OnProfileCopied(const std::string& path);

    bool IsModified() const { return modified_; }
    void SetModifiedFlag(bool modified);
    const std::string& ProfilePath() const { return profilePath_; }
    const std::string& Title() const { return title_; }

protected:
    // The "Save Profile" dialog with the given caption; the entered
    // description, or nothing when cancelled.
    virtual std::optional<std::string> AskDescription(const std::string& caption, const std::string& current);

signals:
    // The title, the modified flag or the recent-file list changed.
    void Changed();

private:
    bool ApplyFormToSettings();
    void ApplyProfileTitle();
    void SetPathName(const std::string& path, bool addToRecent);
    bool OpenDocument(const std::string& path, int recentIndex);
    static std::string ResolveRelativeEntry(const std::string& path);
    bool SaveTo(const std::string& target, const std::string& description, const std::string& oldDescription);
    void ApplyDefaultProfileOnce();

    RecentFileList& recentFiles_;
    DocumentFormLink* form_ = nullptr;
    std::string profilePath_;
    std::string title_;
    bool modified_ = false;
    bool encoderLibraryReady_ = false;
};

// The one document; null while none exists.
extern CMpegDoc* CurrentDocument;
// Set once the default profile was looked for: that happens once per run.
extern int DefaultProfileTried;
// Called by the form's and the view's change handlers.
void MarkProfileModified();
