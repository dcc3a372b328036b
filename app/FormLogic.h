// The arithmetic of the main settings form: its values and the input it took,
// output and temporary names, the checks before a job and of file locations,
// the load from and the store into the settings (the one place the form
// writes them). Widgets only show and collect; what they decide is decided
// here and in FormPresets.
#pragma once

#include <functional>
#include <string>

#include "settings/EncoderSettings.h"

// Stream kind chosen with the two format buttons.
inline constexpr int kStreamNone = -1;
inline constexpr int kStreamMpeg2 = 0;
inline constexpr int kStreamMpeg1 = 1;

inline constexpr int kMaxFrameCount = 1000000;
inline constexpr int kMaxPictureSide = 10000;
inline constexpr int kMaxBitRateKbit = 102400;
inline constexpr int kBitRateSpinLimit = 4608;
inline constexpr size_t kFormNameLimit = 255;

// Frame-rate list of the form: index + 1 is the MPEG frame-rate code.
inline constexpr int kRateIndex25 = 2;
inline constexpr int kRateIndex2997 = 3;
inline constexpr int kRateIndex30 = 4;
inline constexpr int kRateIndex60 = 7;
// The list index of a frame-rate code (1..8); any other code shows 29.97.
inline int FrameRateIndexOfCode(int code) { return code >= 1 && code <= kRateIndex60 + 1 ? code - 1 : kRateIndex2997; }

// Shown when the Video-CD preset cannot tell the video system.
inline constexpr const char* kVcdSystemUnknownText =
    "Program is unable to determine what video system parameters to use for VCD.\n"
    "Please select frame rate 29.97 for NTSC system or 25 for PAL system.";

// The settings the form's format choices and the Video-CD preset decide
// beyond what its controls show. The advanced sheet edits the same settings:
// the form hands its values over before the sheet opens and takes them back
// after it closes.
struct FormCoding {
    int streamType = kStreamTypeMpeg1;
    int applicationType = kApplicationNone;
    int mpeg1AspectRatio = 1;
    int muxPackSize = 2048;
    int audioBitRateIndex = 3;
    int audioBitRate = 128;
    int audioMode = 1;
    int ipDistance = 3;
    int gopSize = 12;
    int constrainedParameters = 1;
    int rateControl = kRateConstant;
    std::string tempVideoFileName, tempAudioFileName;
};

// What the form shows, and what it decided besides.
struct FormValues {
    std::string inputName, outputName;
    int width = 0, height = 0;
    int frames = 1;
    int firstFrame = 1;  // 1-based
    int bitRateKbit = 1600;
    int frameRateIndex = kRateIndex2997;
    int streamKind = kStreamNone;
    int keepDuration = 0;
    int encodeAudio = 0;
    int videoFormatIndex = -1;
    int dvd = 0, svcd = 0, videoCd = 0;
    // The form's one copy of these: every store writes them all.
    FormCoding coding;
};

// The input the form last probed and took, with what the probe found. A name
// typed into the input edit is probed (as Enter does) only when it differs;
// a refused or failed name leaves no name known, so the same name is probed
// again the next time, while the form goes on showing the earlier input with
// its sound. Only the form's own probe fills it: another look at a file (its
// information, a preview) changes nothing of the input taken.
struct TakenInput {
    std::string name;
    int width = 0, height = 0;
    int firstFrame = 0, endFrame = 0;  // the AVI's own frame range
    bool hasAudio = false;
    int channels = 0;
    int Frames() const { return endFrame - firstFrame; }
    void Forget() { name.clear(); }
    void Take(const std::string& path) { name = path; }
};
// Whether a typed input name must be probed before the form may use it.
bool TypedInputNeedsProbe(const std::string& typed, const TakenInput& taken);

// ---- names ----

// Extension of the main output: ".m1v"/".m2v" without audio, ".mpg" or the
// MPEG-2 extension of the program file with it.
std::string MainOutputExtension(int streamKind, bool withAudio);

// Puts `extension` in place of the last extension of the last path
// component (a ".avi" ending is always dropped). 1 when `result` got the new
// name; a name or extension under 2 characters gives "deftemp_err.tmp" and 0,
// a name of 255 or more characters gives 0 and leaves `result`.
int ReplaceFileExtension(const std::string& name, const std::string& extension, std::string* result);

// Whether the last path component of `name` has an extension ("." after its first character).
bool HasFileExtension(const std::string& name);
// Last path component, and everything before it (with its trailing "/").
std::string FileNamePart(const std::string& path);
std::string FolderPart(const std::string& path);
// Whether `name` ends in ".avi", without regard to case.
bool HasAviExtension(const std::string& name);

// The output name proposed for `inputName`: its base name in `folder` (which
// ends in "/", or is empty for the input's own folder) with the extension of
// the stream kind.
std::string ProposeOutputName(const std::string& inputName, const std::string& folder, int streamKind,
                              bool withAudio);

// The output name with the extension of the stream kind; false (name
// unchanged) with no stream kind or a name under 2 or over 254 characters.
bool DeriveOutputName(std::string* outputName, int streamKind, bool withAudio);

// A typed output name made usable: doubled separators reduced; a last
// component without extension loses a trailing "m1v", "m2v" or the last three
// letters of the MPEG-2 extension, and gets the extension of the stream kind.
std::string NormaliseTypedOutputName(const std::string& name, int streamKind, bool withAudio);

// Temporary video and audio names from the output name, only for an input
// with audio: "<base>_.m1v" or "<base>_.m2v", and "<base>_.mp2".
void DeriveTemporaryNames(const std::string& outputName, int streamKind, bool inputHasAudio, FormCoding* coding);

// ---- checks and store ----

// Parses an edit's text as a whole number in minimum..maximum; false (and
// the leading number, else 0, in `value`) otherwise.
bool ParseFormInteger(const std::string& text, int minimum, int maximum, int* value);

// The checks before a job, in order, each failure with its message box.
// `controlsOk` is false when an edit did not hold a number in its range.
// `requestInputBrowse` is posted when the user should choose another input.
// An ".avi" input sets `settings->inputType` to 2.
// An output name that is the input file itself is refused (message 63606).
int ValidateFormValues(const FormValues& form, bool controlsOk, bool savingDefaults,
                       EncoderSettingsRecord* settings, const std::function<void()>& requestInputBrowse);

// What ApplyToParameters stores of a valid form: all it holds, as it shows
// it, and the taken input's sound. The stream and disc type follow the format
// buttons and the Video-CD, DVD and SVCD boxes; the form keeps what it wrote.
void StoreFormValues(FormValues* form, const TakenInput& input, EncoderSettingsRecord* settings);
// The coding values alone, all of them (before the advanced sheet opens).
void StoreFormCoding(const FormValues& form, EncoderSettingsRecord* settings);
// What the form takes from the settings (LoadDefaultProfile), and the coding
// values alone (after the advanced sheet).
FormValues FormValuesFromSettings(const EncoderSettingsRecord& settings);
void LoadFormCoding(const EncoderSettingsRecord& settings, FormValues* form);
// At the first start with a file named on the command line: the default
// profile's settings without its file names. False when there is none.
bool ReadDefaultProfileWithoutFiles();

// ---- file locations ----

enum class LocationFault {
    None,
    FolderMissing,
    FolderReadOnly,
    FileNotWritable,  // exists, no write permission
    CannotCreate,
};
struct LocationCheck {
    LocationFault fault = LocationFault::None;
    bool existed = false;    // the file was there already
    std::string folder;      // the folder the file would be in, with its trailing "/"
};
// Whether `name` can be written: an existing file must be writable, a missing
// one is created and removed again (only a file this call created is removed).
LocationCheck CheckFileLocation(const std::string& name);

// The interactive check of the output file `name` (from the output edit):
// 1 when it can be written; otherwise its message box, and `browse` (the
// output Browse command) where the user should choose another name.
int CheckOutputLocation(const std::string& name, const std::function<void()>& browse);
// The temporary files' checks, only for an input with sound: each failure's
// text goes to `say`, a message box or (with `batch`) the batch log, whose
// texts also warn of a file that is there already.
int CheckTemporaryLocations(const FormCoding& coding, bool inputHasAudio, bool batch,
                            const std::function<void(const std::string&)>& say);
// The batch runner's check of form->outputName, its messages in the batch
// log. A name an earlier entry of this batch wrote is replaced by the first
// free one, and the temporary names follow (true in `renamed`).
int CheckBatchOutputLocation(FormValues* form, bool inputHasAudio, bool* renamed);

// ---- file dialogs ----

// What a Browse button asks the file dialog; `name` is the initial name and
// receives the chosen one.
struct FormFileDialogRequest {
    bool save = false;
    std::string title;
    std::string defaultExtension;  // without the dot
    std::string filter;            // "Text (*.x)|*.x|...||"
    std::string folder;
    std::string name;
};
// The input Browse: it starts at the form's input name when that has a
// folder that exists, else in `rememberedFolder`.
FormFileDialogRequest InputBrowseRequest(const std::string& inputName, const std::string& rememberedFolder);
// The output Browse: extension and filter by the stream kind and the sound.
FormFileDialogRequest OutputBrowseRequest(int streamKind, bool withAudio, const std::string& outputName,
                                          const std::string& rememberedFolder);
bool FolderExists(const std::string& folder);

// ---- the input ----

// Probes an input for the form into `probed` (its name, picture size, frame
// range, sound and channels); false when it did not open or holds no video.
// The settings are left as they were: the store takes the sound from the
// record.
bool ProbeInputForForm(const std::string& path, TakenInput* probed);
// The batch runner's probe of an input, its refusals in the batch log: a
// name without ".avi", a file that does not open or holds no video, odd
// sizes, no frames. A size that is no multiple of 16 is only noted.
bool ProbeBatchInput(const std::string& path, TakenInput* probed);
// What the batch log says of an entry whose sound is not used.
std::string DroppedSoundLogText(int refusalId, const std::string& soundFormat, const std::string& outputName);
